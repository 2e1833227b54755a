// What a crash leaves in the state folder: a state record and a journal of any bytes. The
// record parses or is refused, and reads back from its own text; the recovery's count of whole
// lines agrees with a plain count, from any offset the record claims.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/files/capture_journal.h"
#include "core/files/osc_file.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

std::filesystem::path scratchFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fuzz_journal_" + std::to_string(::getpid()) + ".osc");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The record is the text up to the first "\n\n" (or all of it); the rest is the journal.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t split = all.find("\n\n");
    const std::string_view record =
        all.substr(0, split == std::string_view::npos ? size : split + 1);
    const std::string_view lines =
        split == std::string_view::npos ? std::string_view() : all.substr(split + 2);

    const std::optional<osc::JournalState> state = osc::parseJournalState(record);
    if (state) {
        check(osc::parseJournalState(osc::journalStateText(*state)) == state);
    }

    const std::filesystem::path path = scratchFile();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(lines.data(), static_cast<std::streamsize>(lines.size()));
    const osc::JournalInfo plain = osc::inspectOscLines(path);
    const auto newlines = static_cast<std::uint64_t>(std::count(lines.begin(), lines.end(), '\n'));
    check(plain.datagrams == newlines);
    const std::size_t lastEnd = lines.rfind('\n');
    check(plain.bytes == (lastEnd == std::string_view::npos ? 0 : lastEnd + 1));
    const osc::JournalInfo withState = osc::inspectOscLines(path, state);
    check(withState.bytes <= lines.size());
    if (!state || state->synced.bytes > lines.size()) {
        check(withState.datagrams == plain.datagrams && withState.bytes == plain.bytes);
    }
    osc::JournalInfo info = withState;
    check(osc::readJournal(info).size() == plain.bytes);
    std::filesystem::remove(path);
    return 0;
}
