// The bit rate as a damaged or edited settings store may hold it, and the time texts made with
// whatever it accepts: a rate read is within its bounds and reads back from its stored text,
// and a time text is a number and a unit for every tick.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/view/time_text.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void checkTime(osc::Tick ticks, double rate) {
    const std::string text = osc::TicksToTimeText(ticks, rate);
    const std::size_t space = text.find(' ');
    check(space != std::string::npos && space > 0);
    const std::string unit = text.substr(space + 1);
    check(unit == "мкс" || unit == "мс" || unit == "с");
    for (std::size_t i = 0; i < space; ++i) {
        const char c = text[i];
        check((c >= '0' && c <= '9') || c == ',' || (c == '-' && i == 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<double> rate = osc::parseBitRate(text);
    if (!rate) {
        return 0;
    }
    check(*rate >= osc::kMinBitRate && *rate <= osc::kMaxBitRate);
    check(osc::parseBitRate(osc::bitRateText(*rate)) == rate);
    osc::Tick ticks = 0;
    std::memcpy(&ticks, data, std::min(size, sizeof ticks));
    for (const osc::Tick t :
         {ticks, osc::Tick{0}, osc::Tick{-1}, osc::Tick{256}, std::numeric_limits<osc::Tick>::max(),
          std::numeric_limits<osc::Tick>::min()}) {
        checkTime(t, *rate);
    }
    return 0;
}
