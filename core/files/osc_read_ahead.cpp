#include "core/files/osc_read_ahead.h"

#include <utility>

namespace osc {

OscReadAhead::OscReadAhead(OscFileReader& reader) : thread_([this, &reader] { run(reader); }) {}

OscReadAhead::~OscReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool OscReadAhead::next(std::span<const std::uint8_t>& out) {
    for (;;) {
        if (started_ && index_ < current_.ends.size()) {
            const std::size_t begin = index_ == 0 ? 0 : current_.ends[index_ - 1];
            out = std::span<const std::uint8_t>(current_.bytes.data() + begin,
                                                current_.ends[index_] - begin);
            ++index_;
            return true;
        }
        if (ended_) {
            return false;
        }
        if (started_) {
            if (current_.error) {
                ended_ = true;
                std::rethrow_exception(std::exchange(current_.error, nullptr));
            }
            if (current_.last) {
                ended_ = true;
                return false;
            }
            // A decoded batch back for reuse: a fresh one's pages would each fault on first
            // touch (most of a replay's system time).
            current_.bytes.clear();
            current_.ends.clear();
            const std::lock_guard<std::mutex> lock(mutex_);
            if (spare_.size() < kAhead) {
                spare_.push_back(std::move(current_));
            }
        }
        current_ = take();
        started_ = true;
        index_ = 0;
    }
}

OscReadAhead::Batch OscReadAhead::take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    Batch b = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return b;
}

void OscReadAhead::run(OscFileReader& reader) {
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

}  // namespace osc
