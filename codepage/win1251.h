#pragma once
// Windows-1251 texts of the telemechanics libraries and the UTF-8 texts of the programs.

#include <string>
#include <string_view>

namespace codepage {

// Every byte decodes; the one unassigned code (0x98) becomes U+FFFD.
std::string Win1251ToUtf8(std::string_view bytes);
// Characters that Windows-1251 lacks, and malformed UTF-8 bytes, become "?".
std::string Utf8ToWin1251(std::string_view utf8);

}  // namespace codepage
