#pragma once
// A small JSON value with a reader and a writer, for the program's own files (the session file).
// The reader takes RFC 8259 text in UTF-8 and refuses anything else with the line and column of
// the fault; it nests at most kMaxDepth deep and reads at most kMaxBytes, so that no input costs
// more than its length. Numbers are doubles; object members keep their order, a repeated name is
// refused. The writer gives text that the reader reads back to the same value.

#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace osc::json {

class Value;
using Array = std::vector<Value>;
using Object = std::vector<std::pair<std::string, Value>>;

class Value {
  public:
    Value() = default;  // null
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(double d) : v_(d) {}
    Value(int i) : v_(static_cast<double>(i)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
    Value(Object o) : v_(std::make_shared<Object>(std::move(o))) {}

    bool isNull() const { return v_.index() == 0; }
    bool isBool() const { return v_.index() == 1; }
    bool isNumber() const { return v_.index() == 2; }
    bool isString() const { return v_.index() == 3; }
    bool isArray() const { return v_.index() == 4; }
    bool isObject() const { return v_.index() == 5; }

    // The value as that kind; throws std::invalid_argument for another kind.
    bool asBool() const;
    double asNumber() const;
    const std::string& asString() const;
    const Array& asArray() const;
    const Object& asObject() const;
    // An object's member, or nullptr (also for a value that is not an object).
    const Value* find(std::string_view name) const;

    bool operator==(const Value& other) const;

  private:
    std::variant<std::monostate, bool, double, std::string, std::shared_ptr<Array>,
                 std::shared_ptr<Object>>
        v_;
};

class ParseError : public std::runtime_error {
  public:
    ParseError(const std::string& what, std::size_t line, std::size_t column)
        : std::runtime_error(what + " at line " + std::to_string(line) + ", column " +
                             std::to_string(column)),
          line_(line),
          column_(column) {}
    std::size_t line() const { return line_; }
    std::size_t column() const { return column_; }

  private:
    std::size_t line_, column_;
};

inline constexpr int kMaxDepth = 64;
inline constexpr std::size_t kMaxBytes = 16u << 20;

// Throws ParseError.
Value parse(std::string_view text);
// Indented by two spaces a level, members in their order; non-finite numbers as null.
std::string write(const Value& value);

}  // namespace osc::json
