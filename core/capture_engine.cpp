#include "core/capture_engine.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "core/osc_file.h"
#include "core/trace_completion.h"

namespace osc {

CaptureEngine::CaptureEngine() {
    for (ChannelTrace* line : {&markerLine, &cursorLine}) {
        line->add(0, 0);
        line->add(1, 0);
    }
}

DatagramKind CaptureEngine::decodeDatagram(std::span<const std::uint8_t> data) {
    const DatagramKind kind = osc::decodeDatagram(state, data, traces);
    if (kind == DatagramKind::Sample) {
        // Only a time base past the window asks for the largest X (six series to look at).
        if (static_cast<double>(state.FTimeBase) > window.maximum()) {
            followTimeBase(window, state.FTimeBase, largestX());
        }
        frames.follow(traces, state.FTimeBase);
    }
    return kind;
}

void CaptureEngine::restartTraces() {
    for (int c = 0; c < kChannelCount; ++c) {
        ChannelTrace& trace = traces[static_cast<std::size_t>(c)];
        trace.clear();
        trace.add(0, kChannels[static_cast<std::size_t>(c)].levelSet);
    }
    frames.restart();
}

void CaptureEngine::closeTraces() {
    for (int c = 0; c < kChannelCount; ++c) {
        traces[static_cast<std::size_t>(c)].add(state.FTimeBase, levelFor(c, state.FLastStatus));
    }
}

std::uint64_t CaptureEngine::completeTraces(
    const std::function<void(std::uint64_t steps)>& progress) {
    std::uint64_t total = 0;
    frames.finish(traces);
    for (int c = 1; c < kChannelCount; ++c) {
        const std::uint64_t steps = CompleteTrace(traces[static_cast<std::size_t>(c)]);
        total += steps;
        if (progress) {
            progress(steps);
        }
    }
    return total;
}

double CaptureEngine::largestX() const {
    double largest = -1e300;
    for (const ChannelTrace& trace : traces) {
        if (!trace.empty()) {
            largest = std::max(largest, static_cast<double>(trace.lastX()));
        }
    }
    for (const ChannelTrace* line : {&markerLine, &cursorLine}) {
        for (const TracePoint p : line->storedPoints()) {  // a completion point lies inside
            largest = std::max(largest, static_cast<double>(p.x));
        }
    }
    return largest;
}

void CaptureEngine::replayOscText(std::string_view text, const std::function<void()>& onDatagram) {
    resetTimeBase();
    restartTraces();
    OscReader reader(text);
    std::vector<std::uint8_t> datagram;
    while (reader.next(datagram)) {
        decodeDatagram(datagram);
        if (onDatagram) {
            onDatagram();
        }
    }
    closeTraces();
    completeTraces();
}

namespace {

// Datagrams read and parsed ahead of the decoder, a batch at a time.
struct Batch {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> ends;  // end of each datagram in bytes
    std::exception_ptr error;       // thrown by the reader after these datagrams
    bool last = false;
};

// The reader's thread fills batches while the caller's thread decodes the ones before: a
// replay takes about as long as the slower of the two, not their sum. At most kAhead batches
// wait, so memory stays a few MiB however long the file.
class ReadAhead {
  public:
    explicit ReadAhead(OscFileReader& reader) : thread_([this, &reader] { run(reader); }) {}
    ~ReadAhead() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    Batch take() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty(); });
        Batch b = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return b;
    }
    // A decoded batch back for reuse: its memory is already mapped in, where a fresh one's
    // pages would each fault on first touch (most of a replay's system time).
    void giveBack(Batch&& b) {
        b.bytes.clear();
        b.ends.clear();
        const std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.size() < kAhead) {
            spare_.push_back(std::move(b));
        }
    }

  private:
    static constexpr std::size_t kAhead = 4;
    static constexpr std::size_t kBatchBytes = 1 << 20;

    void run(OscFileReader& reader) {
        for (bool last = false; !last;) {
            Batch b;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (!spare_.empty()) {
                    b = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            b.bytes.reserve(kBatchBytes + 8192);
            try {
                while (b.bytes.size() < kBatchBytes) {
                    if (!reader.appendNext(b.bytes)) {  // straight into the batch
                        b.last = true;
                        break;
                    }
                    b.ends.push_back(b.bytes.size());
                }
            } catch (...) {
                b.error = std::current_exception();
                b.last = true;
            }
            last = b.last;
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || ready_.size() < kAhead; });
            if (stop_) {
                return;
            }
            ready_.push_back(std::move(b));
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> ready_;
    std::vector<Batch> spare_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

void CaptureEngine::replayOscFile(const std::filesystem::path& path,
                                  const std::function<void()>& onDatagram) {
    OscFileReader reader(path);
    resetTimeBase();
    restartTraces();
    {
        ReadAhead ahead(reader);
        for (bool last = false; !last;) {
            Batch b = ahead.take();
            std::size_t begin = 0;
            for (const std::size_t end : b.ends) {
                decodeDatagram(std::span<const std::uint8_t>(b.bytes.data() + begin, end - begin));
                begin = end;
                if (onDatagram) {
                    onDatagram();
                }
            }
            if (b.error) {
                std::rethrow_exception(b.error);
            }
            last = b.last;
            ahead.giveBack(std::move(b));
        }
    }
    closeTraces();
    completeTraces();
}

}  // namespace osc
