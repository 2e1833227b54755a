// The trace log store reading its lines back from a journal file that something else has
// changed: any bytes in place of the journal give lines of exactly the traced shape (as traced,
// or as the file now holds them) or a FileError, never a crash or a read out of bounds. The
// line parser itself reads back only text that it would write.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/files/osc_file.h"
#include "core/files/trace_log_store.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::filesystem::path scratch(const char* what) {
    return std::filesystem::temp_directory_path() /
           ("fuzz_trace_log_store_" + std::to_string(::getpid()) + what);
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Line sizes up to the first 0xFF (at most 64 lines), then the text in the journal's place.
    std::vector<std::uint32_t> ends;
    std::size_t at = 0;
    while (at < size && data[at] != 0xFF && ends.size() < 64) {
        ends.push_back((ends.empty() ? 0 : ends.back()) + data[at]);
        ++at;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + std::min(at + 1, size),
                                size - std::min(at + 1, size));

    std::vector<std::uint8_t> bytes;
    if (osc::parseTraceLines(text, ends, 0, &bytes)) {
        std::string again;
        std::uint32_t start = 0;
        for (const std::uint32_t end : ends) {
            again += osc::traceLine({bytes.data() + start, end - start}) + "\r\n";
            start = end;
        }
        check(again == text);
    }

    // Datagrams of those sizes, traced and journaled; then the journal's bytes replaced.
    const std::filesystem::path journal = scratch(".osc");
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::string lines;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        std::vector<std::uint8_t> d(ends[i] - (i == 0 ? 0 : ends[i - 1]));
        for (std::size_t k = 0; k < d.size(); ++k) {
            d[k] = static_cast<std::uint8_t>(i * 7 + k);
        }
        datagrams.push_back(std::move(d));
    }
    {
        osc::TraceLogStore store(
            {.memoryBudget = 0, .spillFolder = scratch("-spill"), .chunkBytes = 16},
            [&](std::uint64_t) { return ::open(journal.c_str(), O_RDONLY | O_CLOEXEC); });
        std::vector<std::uint64_t> offsets;
        for (const auto& d : datagrams) {
            offsets.push_back(lines.size());
            lines += osc::traceLine(d) + "\r\n";
        }
        writeFile(journal, lines);  // a journal that keeps up
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            store.append(datagrams[i], osc::TraceLogStore::JournalCopy{1, offsets[i]});
        }
        writeFile(journal, text);
        // A line comes from memory (as traced) or from the file, where only text of its exact
        // shape passes: the journal is the program's own, compared when the bytes went; what
        // is read back is checked for its shape, not trusted with the memory's bounds.
        for (std::uint64_t i = 0; i < store.lineCount(); ++i) {
            try {
                const std::string line = store.line(i);
                const std::size_t size = datagrams[i].size();
                const bool traced = line == osc::traceLine(datagrams[i]);
                const bool fromFile =
                    offsets[i] + 3 * size <= text.size() &&
                    line == text.substr(static_cast<std::size_t>(offsets[i]), 3 * size);
                check(traced || fromFile);
                const std::vector<std::uint8_t> bytes = store.datagram(i);
                check(osc::traceLine(bytes) == line);
            } catch (const osc::FileError&) {
            }
        }
        std::string all;
        std::uint64_t line = 0;
        try {
            while (line < store.lineCount()) {
                store.readText(line, store.lineCount(), all, 40);
            }
            check(all.size() == lines.size());
            check(osc::parseTraceLines(all, ends, 0, nullptr));
        } catch (const osc::FileError&) {
        }
    }
    std::filesystem::remove(journal);
    std::filesystem::remove_all(scratch("-spill"));
    return 0;
}
