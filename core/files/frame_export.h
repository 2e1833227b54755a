#pragma once
// Frames as text for people and programs: one frame a line (text), a row (CSV) or an object
// (JSON), positions in bits as the readouts write them and in ticks, bytes in hex. The
// command-line tool and the window's table export write through these, so both give the same
// rows for the same frames.

#include <cstdint>
#include <span>
#include <string>

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

// Every frame, numbered from 1 in the order given.
std::string formatFrames(std::span<const Frame> frames, FrameListFormat format);

}  // namespace osc
