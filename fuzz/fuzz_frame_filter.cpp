// Filter expressions as a user types them: parsed with and without a bit rate; an error points
// into the text and reads in both languages; a filter that parses is evaluated on frames made
// of the same bytes, and its negation passes exactly the frames it does not.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/frame_filter.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<osc::Frame> frames;
    for (std::size_t k = 0; k < 4; ++k) {
        osc::Frame f;
        f.channel = static_cast<int>(k);
        f.start = static_cast<osc::Tick>(k * 1000);
        f.end = f.start + 700;
        f.bytes.assign(data + std::min(size, k * 3),
                       std::min<std::size_t>(size - std::min(size, k * 3), 2 + k * 4));
        f.bitCount = static_cast<std::uint32_t>(f.bytes.size() * 8);
        f.status = k == 3 ? osc::CheckStatus::Bad : osc::CheckStatus::Good;
        f.error = k == 3 ? osc::FrameError::BadCheck : osc::FrameError::None;
        frames.push_back(f);
    }
    for (const bool withRate : {false, true}) {
        osc::FilterSettings settings;
        if (withRate) {
            settings.bitRate = 9600;
        }
        const osc::FilterParse p = osc::FrameFilter::parse(text, settings);
        if (!p.ok()) {
            check(p.error->offset <= size);
            check(p.error->column >= 1 && p.error->column <= p.error->offset + 1);
            check(!osc::filterErrorText(*p.error, osc::FilterLanguage::English).empty());
            check(!osc::filterErrorText(*p.error, osc::FilterLanguage::Russian).empty());
            check(p.filter.empty());
            continue;
        }
        const osc::FilterParse negated =
            osc::FrameFilter::parse("!(" + std::string(text) + ")", settings);
        for (std::size_t k = 0; k < frames.size(); ++k) {
            osc::FrameRecord r;
            r.index = k + 1;
            r.frame = &frames[k];
            r.fields = osc::linkFields(frames[k], osc::LinkOptions{});
            r.info.issues = static_cast<std::uint8_t>(k * 5 % 16);
            if (k == 2) {
                r.responseTime = 3000;
            }
            const bool pass = p.filter.matches(r);
            // A blank text passes everything, and "!()" does not parse; "!(" and ")" around a
            // text that parses may still fail to (nesting), but never change its meaning.
            if (!p.filter.empty() && negated.ok()) {
                check(negated.filter.matches(r) == !pass);
            }
        }
    }
    return 0;
}
