#include "core/capture/capture_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace osc {

namespace {

constexpr std::uint8_t kStrobe = 0x04;

}  // namespace

void CaptureStats::start(std::int64_t nowMs, std::uint64_t receiverDrops) {
    *this = CaptureStats();
    started_ = true;
    startedAt_ = nowMs;
    dropsBase_ = receiverDrops;
}

void CaptureStats::stop(std::int64_t nowMs) {
    if (started_ && !stoppedAt_) {
        stoppedAt_ = std::max(nowMs, startedAt_);
    }
}

std::int64_t CaptureStats::elapsedMs(std::int64_t nowMs) const {
    if (!started_) {
        return 0;
    }
    return std::max<std::int64_t>(0, stoppedAt_.value_or(nowMs) - startedAt_);
}

void CaptureStats::datagram(std::span<const std::uint8_t> data, DatagramKind kind) {
    if (!started_) {
        return;  // before the first start: no capture to count for
    }
    ++datagrams_;
    bytes_ += data.size();
    if (kind != DatagramKind::Sample) {
        return;
    }
    ++samples_;
    if (data.size() < 10) {
        return;  // no pair: nothing to compare
    }
    const std::uint8_t firstStrobe = data[8] & kStrobe;
    const std::uint8_t firstTime = data[9];
    if (lastStrobe_) {
        const bool newPeriod = firstTime == 0 && firstStrobe != *lastStrobe_;
        if (!newPeriod && firstTime < lastTime_) {
            ++breaks_;
        }
    }
    const std::size_t last = 8 + ((data.size() - 8) / 2 - 1) * 2;
    lastStrobe_ = static_cast<std::uint8_t>(data[last] & kStrobe);
    lastTime_ = data[last + 1];
}

void CaptureStats::setReceiverDrops(std::uint64_t total) {
    // A new endpoint starts counting again from 0: its count then is all new.
    if (total < dropsBase_) {
        dropsBase_ = 0;
        drops_ = 0;
    }
    drops_ = std::max(drops_, total - dropsBase_);
}

std::string elapsedText(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(0, ms) / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string groupedCount(std::uint64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += "\xC2\xA0";  // no-break space
        }
        out += digits[i];
    }
    return out;
}

std::string byteCountText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"КБ", "МБ", "ГБ", "ТБ", "ПБ", "ЭБ"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " Б";
    }
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    char text[40];
    // One decimal below 100, rounded down so that 1023.96 KiB never shows as "1024,0 КБ".
    const double tenths = std::floor(value * 10) / 10;
    if (value < 100 && tenths != std::floor(tenths)) {
        std::snprintf(text, sizeof text, "%.1f %s", tenths, kUnits[unit]);
        std::string s = text;
        std::replace(s.begin(), s.end(), '.', ',');
        return s;
    }
    std::snprintf(text, sizeof text, "%.0f %s", std::floor(value), kUnits[unit]);
    return text;
}

}  // namespace osc
