#pragma once
// Where an export's text goes: a bounded buffer that the writers append to a piece (a row, a
// block) at a time, handed on to its destination (a file being written, stdout) whenever it
// holds a MiB. An export of any length so costs a MiB and one piece of memory.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace osc {

class OutputSink {
  public:
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;

    // deliver takes the buffered bytes, in order, and throws when they cannot be written; the
    // exception leaves the writer that filled the buffer.
    explicit OutputSink(std::function<void(std::string_view)> deliver,
                        std::size_t capacity = kCapacity);
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;
    // What is still held is dropped, not delivered: a writer that finishes calls flush().
    ~OutputSink() = default;

    // The buffer to append the next piece to; spill() after each piece.
    std::string& buffer() { return buffer_; }
    // Hands the buffer on once it holds the capacity or more.
    void spill() {
        if (buffer_.size() >= capacity_) {
            flush();
        }
    }
    // Hands on whatever is held.
    void flush();
    // Bytes handed on so far.
    std::uint64_t delivered() const { return delivered_; }

  private:
    std::function<void(std::string_view)> deliver_;
    std::string buffer_;
    std::size_t capacity_;
    std::uint64_t delivered_ = 0;
};

// A writer's progress, told the share done (0 to 1) every few thousand rows; false cancels.
using WriteProgress = std::function<bool(double share)>;

// The text that a writer gives, whole, for small exports and tests.
std::string collectText(const std::function<void(OutputSink&)>& write);

// Writes a file through a sink (core/files/replacing_file.h): the target is replaced once write
// returned true and everything is in the file; false (cancelled) or an exception leaves the
// target as it was and no temporary file. A FIFO or a device is refused. A file in a folder
// that takes no new file is written over in place at the end, its room reserved first; until
// then the text is held in memory, or with streamInPlace in a private temporary file. Throws
// FileError ("Cannot create file PATH").
bool writeFileThroughSink(const std::filesystem::path& path,
                          const std::function<bool(OutputSink&)>& write,
                          bool streamInPlace = false);

}  // namespace osc
