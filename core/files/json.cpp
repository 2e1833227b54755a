#include "core/files/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace osc::json {

bool Value::asBool() const {
    if (!isBool()) {
        throw std::invalid_argument("not a boolean");
    }
    return std::get<bool>(v_);
}

double Value::asNumber() const {
    if (!isNumber()) {
        throw std::invalid_argument("not a number");
    }
    return std::get<double>(v_);
}

const std::string& Value::asString() const {
    if (!isString()) {
        throw std::invalid_argument("not a string");
    }
    return std::get<std::string>(v_);
}

const Array& Value::asArray() const {
    if (!isArray()) {
        throw std::invalid_argument("not an array");
    }
    return *std::get<std::shared_ptr<Array>>(v_);
}

const Object& Value::asObject() const {
    if (!isObject()) {
        throw std::invalid_argument("not an object");
    }
    return *std::get<std::shared_ptr<Object>>(v_);
}

const Value* Value::find(std::string_view name) const {
    if (!isObject()) {
        return nullptr;
    }
    for (const auto& [key, value] : asObject()) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}

bool Value::operator==(const Value& other) const {
    if (v_.index() != other.v_.index()) {
        return false;
    }
    if (isArray()) {
        return asArray() == other.asArray();
    }
    if (isObject()) {
        return asObject() == other.asObject();
    }
    return v_ == other.v_;
}

namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    Value document() {
        if (text_.size() > kMaxBytes) {
            fail("text too long");
        }
        skipSpace();
        Value v = value(0);
        skipSpace();
        if (at_ != text_.size()) {
            fail("text after the value");
        }
        return v;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        throw ParseError(what, line, column);
    }
    bool end() const { return at_ >= text_.size(); }
    char peek() const { return end() ? '\0' : text_[at_]; }
    void skipSpace() {
        while (!end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++at_;
        }
    }
    void expect(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            fail("unexpected character");
        }
        at_ += word.size();
    }

    Value value(int depth) {
        if (depth >= kMaxDepth) {
            fail("nested too deep");
        }
        switch (peek()) {
            case '{':
                return object(depth);
            case '[':
                return array(depth);
            case '"':
                return Value(string());
            case 't':
                expect("true");
                return Value(true);
            case 'f':
                expect("false");
                return Value(false);
            case 'n':
                expect("null");
                return Value(nullptr);
            default:
                return Value(number());
        }
    }

    Value object(int depth) {
        ++at_;  // {
        Object members;
        skipSpace();
        if (peek() == '}') {
            ++at_;
            return Value(std::move(members));
        }
        for (;;) {
            skipSpace();
            if (peek() != '"') {
                fail("a member name expected");
            }
            std::string name = string();
            for (const auto& [key, unused] : members) {
                if (key == name) {
                    fail("member \"" + name + "\" repeated");
                }
            }
            skipSpace();
            if (peek() != ':') {
                fail("':' expected");
            }
            ++at_;
            skipSpace();
            members.emplace_back(std::move(name), value(depth + 1));
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == '}') {
                ++at_;
                return Value(std::move(members));
            }
            fail("',' or '}' expected");
        }
    }

    Value array(int depth) {
        ++at_;  // [
        Array items;
        skipSpace();
        if (peek() == ']') {
            ++at_;
            return Value(std::move(items));
        }
        for (;;) {
            skipSpace();
            items.push_back(value(depth + 1));
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == ']') {
                ++at_;
                return Value(std::move(items));
            }
            fail("',' or ']' expected");
        }
    }

    unsigned hex4() {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = peek();
            v <<= 4;
            if (c >= '0' && c <= '9') {
                v |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                v |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                v |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                fail("four hexadecimal digits expected");
            }
            ++at_;
        }
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // One UTF-8 sequence, checked (no overlong forms, no surrogates, at most U+10FFFF).
    void utf8(std::string& out) {
        const auto b = [&](std::size_t k) {
            return at_ + k < text_.size() ? static_cast<unsigned char>(text_[at_ + k]) : 0u;
        };
        const unsigned c = b(0);
        std::size_t n = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            cp = c & 0x07;
        } else {
            fail("not UTF-8");
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((b(k) & 0xC0) != 0x80) {
                fail("not UTF-8");
            }
            cp = (cp << 6) | (b(k) & 0x3F);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            fail("not UTF-8");
        }
        out.append(text_.substr(at_, n));
        at_ += n;
    }

    std::string string() {
        ++at_;  // "
        std::string out;
        for (;;) {
            if (end()) {
                fail("unterminated string");
            }
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) {
                fail("control character in a string");
            }
            if (c >= 0x80) {
                utf8(out);
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char e = peek();
            ++at_;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        expect("\\u");
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) {
                            fail("unpaired surrogate");
                        }
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        fail("unpaired surrogate");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    --at_;
                    fail("unknown escape");
            }
        }
    }

    double number() {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (!end() && peek() >= '0' && peek() <= '9') {
                ++at_;
            }
            return at_ > from;
        };
        if (peek() == '-') {
            ++at_;
        }
        if (peek() == '0') {
            ++at_;
        } else if (!digits()) {
            fail("a value expected");
        }
        if (peek() == '.') {
            ++at_;
            if (!digits()) {
                fail("digits expected after '.'");
            }
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') {
                ++at_;
            }
            if (!digits()) {
                fail("digits expected in the exponent");
            }
        }
        double v = 0;
        const auto [p, ec] = std::from_chars(text_.data() + start, text_.data() + at_, v);
        if (ec != std::errc() || p != text_.data() + at_ || !std::isfinite(v)) {
            at_ = start;
            fail("number out of range");
        }
        return v;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

void writeString(std::string& out, const std::string& s) {
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

void writeValue(std::string& out, const Value& v, int indent) {
    const std::string pad(static_cast<std::size_t>(indent + 2), ' ');
    const std::string closePad(static_cast<std::size_t>(indent), ' ');
    if (v.isNull()) {
        out += "null";
    } else if (v.isBool()) {
        out += v.asBool() ? "true" : "false";
    } else if (v.isNumber()) {
        const double d = v.asNumber();
        if (!std::isfinite(d)) {
            out += "null";
        } else {
            char buffer[32];
            const auto [p, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
            out.append(buffer, ec == std::errc() ? p : buffer);
        }
    } else if (v.isString()) {
        writeString(out, v.asString());
    } else if (v.isArray()) {
        const Array& a = v.asArray();
        if (a.empty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (std::size_t i = 0; i < a.size(); ++i) {
            out += pad;
            writeValue(out, a[i], indent + 2);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        out += closePad + "]";
    } else {
        const Object& o = v.asObject();
        if (o.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        for (std::size_t i = 0; i < o.size(); ++i) {
            out += pad;
            writeString(out, o[i].first);
            out += ": ";
            writeValue(out, o[i].second, indent + 2);
            out += i + 1 < o.size() ? ",\n" : "\n";
        }
        out += closePad + "}";
    }
}

}  // namespace

Value parse(std::string_view text) {
    return Reader(text).document();
}

std::string write(const Value& value) {
    std::string out;
    writeValue(out, value, 0);
    out += '\n';
    return out;
}

}  // namespace osc::json
