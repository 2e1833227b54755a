// Trigger texts and the spans of the recorder's options as a user types them: a condition that
// parses keeps its text and kind, a silence names a line and a span within the limits, and the
// span texts read back the same way every time.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/capture/segment_retention.h"
#include "core/trigger/trigger_condition.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool withRate : {false, true}) {
        osc::FilterSettings settings;
        if (withRate) {
            settings.bitRate = 9600;
        }
        const osc::TriggerParse p = osc::parseTrigger(text, settings);
        check(p.ok() != !p.error.empty());
        if (p.ok()) {
            check(!p.condition->text.empty() && text.find(p.condition->text) != text.npos);
            if (p.condition->kind == osc::TriggerKind::Silence) {
                check(p.condition->channel >= 0 && p.condition->channel < osc::kChannelCount);
                check(p.condition->silence.amount >= 0);
            }
        } else if (p.filterError) {
            check(p.filterError->offset <= text.size());
        }
    }
    for (const auto unit : {osc::TimeSpan::Unit::Bits, osc::TimeSpan::Unit::Milliseconds}) {
        const auto span = osc::parseTimeSpan(text, unit);
        if (span) {
            check(span->amount >= 0);
            check(span->amount <=
                  (span->unit == osc::TimeSpan::Unit::Bits ? osc::kMaxSpanBits : osc::kMaxSpanMs));
            check(span->ticks(1e6).has_value());
            check(osc::parseTimeSpan(text, unit) == span);
        }
    }
    if (const auto rule = osc::parseRetention(text)) {
        check(rule->maxAgeMs.has_value() != rule->maxBytes.has_value());
    }
    return 0;
}
