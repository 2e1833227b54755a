#pragma once
// The frames of a capture with their link layer, and the statistics of its stations, as text
// for people and programs. The command-line tool writes through these; the window's exports
// can, so that both give the same rows.
//
// Frames: the columns of core/frame_export.h, then address, frame_type, command, ns, nr, pf,
// role, answer_to, response_bits, issue (null in JSON and an empty cell in CSV where a frame
// has none). Text lines are those of core/frame_export.h. Response times are in bits, exact
// (a tick is 1/256 bit: "12.5", "3.00390625").

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/files/frame_export.h"
#include "core/frames/capture_frames.h"
#include "core/link/frame_filter.h"
#include "core/link/link_analysis.h"

namespace osc {

// Every frame of a capture in order of start (the lower channel first at equal starts),
// numbered from 1 as the table numbers them ("№"), with its link layer. Built in O(frames),
// 16 bytes a frame; the frames and the analysis must stay as they are while it is used.
class FrameRecords {
  public:
    FrameRecords(const CaptureFrames& frames, const LinkAnalysis& link);

    std::size_t size() const { return order_.size(); }
    // The frame at a position of that order (its "№" is position + 1).
    FrameRecord at(std::size_t position) const;
    // The "№" of a frame; 0 for one that is not listed.
    std::uint64_t numberOf(FrameRef ref) const;

  private:
    const CaptureFrames& frames_;
    const LinkAnalysis& link_;
    const LinkAnalyser& analyser_;
    std::vector<FrameRef> order_;
    std::array<std::vector<std::uint64_t>, kChannelCount> numbers_;
};

// "12.5": ticks as bits, exactly.
std::string bitsText(Tick ticks);

// The CSV header with its line end (frameCsvHeader's columns, then the link layer's).
std::string linkedFrameCsvHeader();
// One row with its line end; one JSON object (braces, no separator).
void appendLinkedFrameCsvRow(std::string& out, const FrameRecord& record);
void appendLinkedFrameJson(std::string& out, const FrameRecord& record);

// The records that pass the filter, in order, in one of the formats; the text goes to sink in
// pieces of about a MiB (false from sink stops the writing and is returned). Memory does not
// grow with the number of frames.
bool writeFrameRecords(const FrameRecords& records, FrameListFormat format,
                       const FrameFilter& filter,
                       const std::function<bool(std::string_view)>& sink);

// The stations one by one (csv: a header and a row each; json: an array of objects with the
// keys address, frames, bytes, commands, responses, i_frames, s_frames, u_frames, polls,
// answers, no_answer, retransmission, sequence_gap, unsolicited, rej, srej, rnr, frmr,
// response_bits_min, response_bits_mean, response_bits_p95, response_bits_max; text: a block
// a station, then a line a decoded channel from `lines`).
std::string formatStationStats(std::span<const StationStats> stations,
                               const std::array<LineStats, kChannelCount>& lines, unsigned channels,
                               FrameListFormat format);

}  // namespace osc
