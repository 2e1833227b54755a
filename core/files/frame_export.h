#pragma once
// Frames as text for people and programs: one frame a line (text), a row (CSV) or an object
// (JSON), positions in bits as the readouts write them and in ticks, bytes in hex. The
// command-line tool and the window's table export write through these, so both give the same
// rows for the same frames. The writers walk the frames one at a time (FrameWalk) and write
// through a bounded buffer (core/files/output_sink.h), so a list of any length costs no memory of
// its own.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/files/output_sink.h"
#include "core/files/trace_export.h"
#include "core/frames/capture_frames.h"
#include "core/frames/frame_decoder.h"

namespace osc {

enum class FrameListFormat : std::uint8_t { Text, Csv, Json };

// "01 30 0B 9F": upper-case hex bytes joined by single spaces.
std::string frameBytesHex(std::span<const std::uint8_t> bytes);

// The CSV header line, with its line end:
// "index,channel,name,start,end,start_ticks,end_ticks,bits,bytes,check,status,error\n".
std::string frameCsvHeader();
// One CSV row of a frame numbered `index`, with its line end. No field holds a comma, a quote
// or a line end, so none is quoted.
void appendFrameCsvRow(std::string& out, std::uint64_t index, const Frame& frame);

// The pieces of the rows above, for writers that add columns of their own: one text line with
// its line end; the CSV cells without the line end; the JSON members without the braces.
void appendFrameText(std::string& out, std::uint64_t index, const Frame& frame);
void appendFrameCsvCells(std::string& out, std::uint64_t index, const Frame& frame);
void appendFrameJsonMembers(std::string& out, std::uint64_t index, const Frame& frame);

// Frames one at a time, each with its number ("№" of the frames table, `index` of the
// command-line tool: 1 for the first frame of a capture in order of start).
class FrameWalk {
  public:
    virtual ~FrameWalk() = default;
    // The next frame and its number; nullptr once every frame has been given. The frame
    // stays valid until the next call.
    virtual const Frame* next(std::uint64_t& number) = 0;
    // The frames the walk gives in all, for the progress.
    virtual std::uint64_t total() const = 0;
};

// The frames of a span, numbered from 1 in the order given.
class SpanFrameWalk final : public FrameWalk {
  public:
    explicit SpanFrameWalk(std::span<const Frame> frames) : frames_(frames) {}
    const Frame* next(std::uint64_t& number) override;
    std::uint64_t total() const override { return frames_.size(); }

  private:
    std::span<const Frame> frames_;
    std::size_t at_ = 0;
};

// The frames of a capture's decoded channels in order of start, lower channel first at equal
// starts (CaptureFrames::byStart's order, without its copy), numbered by that order. With a
// stretch, only the frames that start in [from, to), keeping their numbers. Takes the frames
// there are at construction; frames found later (a capture going on) are left out. Throws
// std::runtime_error from next() when the frames were decoded anew meanwhile (a restart, an
// options change).
class CaptureFrameWalk final : public FrameWalk {
  public:
    explicit CaptureFrameWalk(const CaptureFrames& frames,
                              std::optional<ExportStretch> stretch = std::nullopt);
    const Frame* next(std::uint64_t& number) override;
    std::uint64_t total() const override { return total_; }

  private:
    const CaptureFrames& frames_;
    std::array<std::size_t, kChannelCount> at_{};
    std::array<std::size_t, kChannelCount> end_{};
    std::uint64_t number_ = 0;  // the number of the last frame given
    std::uint64_t total_ = 0;
};

// Every frame of the walk, in its order: a header (CSV), a line, row or object each, the
// closing bracket (JSON). Asks progress every 4096 frames; false when it cancelled.
bool writeFrameList(FrameWalk& frames, FrameListFormat format, OutputSink& sink,
                    const WriteProgress& progress = {});

// Every frame, numbered from 1 in the order given, as one text.
std::string formatFrames(std::span<const Frame> frames, FrameListFormat format);

}  // namespace osc
