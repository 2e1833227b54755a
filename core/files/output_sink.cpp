#include "core/files/output_sink.h"

#include <algorithm>
#include <utility>

#include "core/files/replacing_file.h"

namespace osc {

OutputSink::OutputSink(std::function<void(std::string_view)> deliver, std::size_t capacity)
    : deliver_(std::move(deliver)), capacity_(capacity == 0 ? 1 : capacity) {
    buffer_.reserve(std::min(capacity_, kCapacity) + 4096);
}

void OutputSink::flush() {
    if (buffer_.empty()) {
        return;
    }
    deliver_(buffer_);
    delivered_ += buffer_.size();
    buffer_.clear();
}

std::string collectText(const std::function<void(OutputSink&)>& write) {
    std::string text;
    OutputSink sink([&text](std::string_view bytes) { text.append(bytes); });
    write(sink);
    sink.flush();
    return text;
}

bool writeFileThroughSink(const std::filesystem::path& path,
                          const std::function<bool(OutputSink&)>& write, bool streamInPlace) {
    ReplacingFileWriter file(path, streamInPlace);
    OutputSink sink([&file](std::string_view bytes) { file.write(bytes); });
    if (!write(sink)) {
        file.abandon();
        return false;
    }
    sink.flush();
    file.commit();
    return true;
}

}  // namespace osc
