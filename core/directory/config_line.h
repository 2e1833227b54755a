#pragma once
// The server's configuration text as the telemechanics library writes it: splitting the file
// into lines, parsing the head of a line (item address, item type, name), finding a device's
// address in its item records, and taking the address back out of a device list entry.
// All texts are byte strings (the file is single-byte Windows-1251 text); nothing here decodes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace osc {

// The address of an item of the server's configuration: sixteen words, the ones that a line
// does not give hold kNoAddressWord.
inline constexpr std::size_t kItemAddressWords = 16;
inline constexpr std::uint32_t kNoAddressWord = 0xFFFFFFFFu;
using TItemAddress = std::array<std::uint32_t, kItemAddressWords>;

inline constexpr std::uint32_t kDeviceAddressWord = 0x83000000u;  // 2197815296
inline constexpr std::uint32_t kDeviceItemType = 1;
inline constexpr std::string_view kAddressMarker = "IP-Addr = ";
inline constexpr std::size_t kLongestAddress = 50;

struct TConfigLine {
    std::uint32_t ItemType = 0;
    TItemAddress Address = filledAddress();

    static constexpr TItemAddress filledAddress() {
        TItemAddress a{};
        a.fill(kNoAddressWord);
        return a;
    }
};

struct ParsedConfigLine {
    TConfigLine head;
    std::string name;  // the rest of the line behind the type's ",", leading blanks kept
    bool ok = false;

    // The item type 1 and the first address word 0x83000000, whatever the further words.
    bool isDeviceLine() const {
        return ok && head.Address[0] == kDeviceAddressWord && head.ItemType == kDeviceItemType;
    }
};

struct ConfigNumber {
    std::uint32_t value = 0;
    std::size_t next = 0;  // first character behind the number and the blanks after it
};

// An unsigned decimal number at pos, blanks and tabs around it skipped; larger numbers wrap
// modulo 2^32. Nothing when the first character behind the blanks is not a digit (no sign).
std::optional<ConfigNumber> ReadConfigNumber(std::string_view text, std::size_t pos);

// "w0,w1,...;type,name" with 1 to 16 address words (a "," behind the sixteenth ends the list as
// well). On failure: ok false, the address all kNoAddressWord, the name empty.
ParsedConfigLine ParseConfigLine(std::string_view line);

// Field n (from 1) of the text; every single delimiter ends a field. Empty for n below 1 and
// for a text with fewer than n - 1 delimiters.
std::string DelimitedField(int n, std::string_view text, std::string_view delimiters);

// The device address of a device list entry "name (IP:address)"; empty for a bare name.
std::string EntryAddress(std::string_view entry);

// The address that a text property of an item gives: what stands behind the first "IP-Addr = ",
// at most 50 characters and only up to a line end. Nothing when the marker is absent.
std::optional<std::string> AddressFromProperty(std::string_view propertyText);

// name + " (IP:" + address + ")", or the bare name without an address.
std::string DeviceEntryText(std::string_view name, const std::optional<std::string>& address);

// Splits the configuration file into the lines that are treated, fed in chunks of any size:
// a character with code 26 ends the file; characters with codes 0..32 before a line are
// skipped (so blank lines and leading blanks vanish); a line ends at a line feed or the end of
// the file; carriage returns inside a line are dropped.
class ConfigLineSplitter {
  public:
    // Calls onLine(std::string_view line) for every complete line in the chunk.
    template <typename Emit>
    void feed(std::string_view chunk, Emit&& onLine) {
        for (char c : chunk) {
            if (ended_) {
                return;
            }
            if (push(c)) {
                onLine(std::string_view(line_));
                line_.clear();
            }
        }
    }
    // The end of the file: emits the last line when it has no line feed.
    template <typename Emit>
    void finish(Emit&& onLine) {
        if (inLine_) {
            onLine(std::string_view(line_));
        }
        line_.clear();
        inLine_ = false;
        ended_ = true;
    }
    // True once the end-of-file character has been seen (or finish called).
    bool ended() const { return ended_; }

  private:
    // Takes one character; true when it completed the current line.
    bool push(char c);

    std::string line_;
    bool inLine_ = false;
    bool ended_ = false;
};

}  // namespace osc
