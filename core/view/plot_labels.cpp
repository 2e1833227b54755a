#include "core/view/plot_labels.h"

#include <cmath>
#include <limits>

namespace osc {

std::string leftAxisLabel(int value) {
    switch (value) {
        case 1:
            return kChannels[3].name;
        case 3:
            return kChannels[2].name;
        case 5:
            return kChannels[1].name;
        case 7:
            return kChannels[0].name;
        default:
            return {};
    }
}

std::string bottomAxisLabel(double ticks) {
    // Formatted as a whole number first (the value 0 gives no text), then read back in bits.
    const double rounded = std::round(ticks);
    if (!std::isfinite(rounded) || rounded == 0) {
        return {};
    }
    return std::to_string(truncateToTick(rounded) / kTicksPerBit);
}

int channelAtY(double y) {
    if (y >= 1 && y <= 2)
        return 3;
    if (y >= 3 && y <= 4)
        return 2;
    if (y >= 5 && y <= 6)
        return 1;
    if (y >= 7 && y <= 8)
        return 0;
    return -1;
}

std::string TicksToBitText(Tick v) {
    const Tick w = v / kTicksPerBit;
    const Tick r = v - kTicksPerBit * w;
    std::string text = std::to_string(w);
    if (r > 0) {
        text += " + " + std::to_string(r) + "/256";
    }
    return text;
}

}  // namespace osc

namespace osc {

Tick truncateToTick(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    constexpr double kTwo63 = 9223372036854775808.0;
    if (v >= kTwo63) {
        return std::numeric_limits<Tick>::max();
    }
    if (v <= -kTwo63) {
        return std::numeric_limits<Tick>::min();
    }
    return static_cast<Tick>(v);
}

}  // namespace osc
