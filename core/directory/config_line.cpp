#include "core/directory/config_line.h"

namespace osc {

namespace {

constexpr char kEndOfFile = 26;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    return pos;
}

}  // namespace

std::optional<ConfigNumber> ReadConfigNumber(std::string_view text, std::size_t pos) {
    pos = skipBlanks(text, pos);
    if (pos >= text.size() || !isDigit(text[pos])) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
    }
    return ConfigNumber{value, skipBlanks(text, pos)};
}

ParsedConfigLine ParseConfigLine(std::string_view line) {
    ParsedConfigLine failed;
    TItemAddress working = TConfigLine::filledAddress();
    std::size_t pos = 0;
    for (std::size_t i = 0; i < kItemAddressWords; ++i) {
        std::optional<ConfigNumber> n = ReadConfigNumber(line, pos);
        if (!n || n->next >= line.size()) {
            return failed;
        }
        working[i] = n->value;
        const char separator = line[n->next];
        pos = n->next + 1;
        if (separator == ';') {
            break;
        }
        if (separator != ',') {
            return failed;
        }
        // A "," behind the sixteenth word ends the list like ";".
    }
    std::optional<ConfigNumber> type = ReadConfigNumber(line, pos);
    if (!type || type->next >= line.size() || line[type->next] != ',') {
        return failed;
    }
    ParsedConfigLine parsed;
    parsed.head.Address = working;
    parsed.head.ItemType = type->value;
    parsed.name = std::string(line.substr(type->next + 1));
    parsed.ok = true;
    return parsed;
}

std::string DelimitedField(int n, std::string_view text, std::string_view delimiters) {
    std::string result;
    if (n < 1) {
        return result;
    }
    int count = 0;
    for (char c : text) {
        if (count == n) {
            break;
        }
        if (delimiters.find(c) != std::string_view::npos) {
            ++count;
        } else if (count == n - 1) {
            result.push_back(c);
        }
    }
    // Fewer than n - 1 delimiters: the characters gathered belong to an earlier field.
    if (count < n - 1) {
        result.clear();
    }
    return result;
}

std::string EntryAddress(std::string_view entry) {
    return DelimitedField(2, DelimitedField(2, entry, "()"), ":");
}

std::optional<std::string> AddressFromProperty(std::string_view propertyText) {
    const std::size_t at = propertyText.find(kAddressMarker);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view behind =
        propertyText.substr(at + kAddressMarker.size()).substr(0, kLongestAddress);
    return DelimitedField(1, behind, "\r\n");
}

std::string DeviceEntryText(std::string_view name, const std::optional<std::string>& address) {
    std::string entry(name);
    if (address) {
        entry += " (IP:";
        entry += *address;
        entry += ")";
    }
    return entry;
}

bool ConfigLineSplitter::push(char c) {
    if (c == kEndOfFile) {
        ended_ = true;
        const bool had = inLine_;
        inLine_ = false;
        return had;
    }
    if (!inLine_) {
        if (static_cast<unsigned char>(c) <= 32) {
            return false;
        }
        inLine_ = true;
    }
    if (c == '\n') {
        inLine_ = false;
        return true;
    }
    if (c != '\r') {
        line_.push_back(c);
    }
    return false;
}

}  // namespace osc
