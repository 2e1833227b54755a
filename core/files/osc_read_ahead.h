#pragma once
// An oscillogram file read and parsed ahead on a thread of its own while the caller decodes
// the datagrams before: a replay takes about as long as the slower of the two, not their sum.
// The datagrams come in the file's order; an error of the reader (OscFormatError, a failed
// read) is thrown by next() where the reader met it, after every datagram before it. At most
// a few batches of about a MiB wait, however long the file.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "core/files/osc_file.h"

namespace osc {

class OscReadAhead {
  public:
    // Starts reading at once; the reader must outlive this object.
    explicit OscReadAhead(OscFileReader& reader);
    // Stops the reading thread (also in the middle of the file) and waits for it.
    ~OscReadAhead();
    OscReadAhead(const OscReadAhead&) = delete;
    OscReadAhead& operator=(const OscReadAhead&) = delete;

    // The next datagram, valid until the next call; false when the data has ended.
    bool next(std::span<const std::uint8_t>& out);

  private:
    struct Batch {
        std::vector<std::uint8_t> bytes;
        std::vector<std::size_t> ends;  // end of each datagram in bytes
        std::exception_ptr error;       // thrown by the reader after these datagrams
        bool last = false;
    };
    static constexpr std::size_t kAhead = 4;
    static constexpr std::size_t kBatchBytes = 1 << 20;

    void run(OscFileReader& reader);
    Batch take();

    Batch current_;
    std::size_t index_ = 0;  // of the next datagram in current_
    bool started_ = false;
    bool ended_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> ready_;
    std::vector<Batch> spare_;  // decoded batches, their memory already mapped in
    bool stop_ = false;
    std::thread thread_;  // last: it starts once the members above exist
};

}  // namespace osc
