// Frames of a polled link as any capture may hold them: the link fields of any bytes in every
// layout, and the analysis of the frames of three lines read in one pass and in pieces (as a
// live capture reads them), which must agree; a partner's partner is the frame itself.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/link/link_analysis.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first byte chooses the options; then each frame: a byte for its line, good or bad and
    // its length, a byte for the pause before it, then its bytes.
    osc::LinkOptions options;
    options.address = static_cast<osc::AddressMode>(data[0] & 3);
    options.modulo = (data[0] & 4) != 0 ? 128 : 8;
    options.primary = 1 + (data[0] >> 3) % 3;
    options.answerTimeout = (data[0] & 0x40) != 0 ? 40 : 0;
    std::array<osc::FrameSequence, osc::kChannelCount> lists;
    std::array<osc::Tick, osc::kChannelCount> free{};
    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::uint8_t head = data[at];
        const auto channel = static_cast<std::size_t>(1 + head % 3);
        const std::size_t n = std::min<std::size_t>((head >> 3) & 15, size - at - 2);
        osc::Frame f;
        f.channel = static_cast<int>(channel);
        f.start = free[channel] + data[at + 1] * 64;
        f.end = f.start + static_cast<osc::Tick>(16 + n * 8) * osc::kTicksPerBit;
        f.bytes.assign(data + at + 2, n);
        f.bitCount = static_cast<std::uint32_t>(n * 8);
        const bool good = (head & 4) == 0;
        f.status = good ? osc::CheckStatus::Good : osc::CheckStatus::Bad;
        f.error = good ? osc::FrameError::None : osc::FrameError::BadCheck;
        free[channel] = f.end;
        for (const osc::AddressMode mode : {osc::AddressMode::None, osc::AddressMode::One,
                                            osc::AddressMode::Two, osc::AddressMode::Extended}) {
            osc::LinkOptions o = options;
            o.address = mode;
            const osc::LinkFields fields = osc::linkFields(f, o);
            if (fields.valid()) {
                check(fields.infoOffset() + fields.infoLength + f.checkBytes() == n);
            } else if (f.good() && n > 4 + f.checkBytes() && mode != osc::AddressMode::Extended) {
                check(false);  // room for any address and control field
            }
        }
        lists[channel].push_back(f);
        at += 2 + n;
    }
    osc::LinkAnalyser::Lists all{};
    for (std::size_t c = 0; c < lists.size(); ++c) {
        all[c] = &lists[c];
    }
    osc::Tick end = 0;
    for (const osc::FrameSequence& l : lists) {
        end = std::max(end, l.empty() ? 0 : l.back().end);
    }
    osc::LinkAnalyser whole(options);
    whole.read(all, end, true);

    // In pieces: the lists grow frame by frame in order of end, settled up to the earliest
    // start of a frame not there yet.
    std::array<osc::FrameSequence, osc::kChannelCount> growing;
    osc::LinkAnalyser::Lists view{};
    for (std::size_t c = 0; c < growing.size(); ++c) {
        view[c] = &growing[c];
    }
    osc::LinkAnalyser live(options);
    for (;;) {
        std::size_t best = 0;
        for (std::size_t c = 1; c < lists.size(); ++c) {
            const std::size_t k = growing[c].size();
            if (k < lists[c].size() &&
                (best == 0 || lists[c][k].end < lists[best][growing[best].size()].end)) {
                best = c;
            }
        }
        if (best == 0) {
            break;
        }
        growing[best].push_back(lists[best][growing[best].size()]);
        osc::Tick settled = growing[best].back().end;
        for (std::size_t c = 1; c < lists.size(); ++c) {
            if (growing[c].size() < lists[c].size()) {
                settled = std::min(settled, lists[c][growing[c].size()].start);
            }
        }
        live.read(view, settled);
    }
    live.read(view, end, true);
    for (int c = 0; c < osc::kChannelCount; ++c) {
        check(live.analysed(c) == whole.analysed(c));
        for (std::size_t i = 0; i < whole.analysed(c); ++i) {
            const osc::LinkInfo& info = whole.info(c, i);
            check(live.info(c, i) == info);
            const osc::FrameRef p = info.partner();
            if (p.valid()) {
                check(whole.info(p.channel, p.index).partner() == (osc::FrameRef{c, i}));
            }
        }
    }
    check(live.stations() == whole.stations());
    check(live.lines() == whole.lines());
    return 0;
}
