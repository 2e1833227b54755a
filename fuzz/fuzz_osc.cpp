// Oscillogram file text through the reader and the replay. The reader is checked against a
// plain character-by-character reading of the same text, and every datagram against its own
// trace line read back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/capture_engine.h"
#include "core/files/osc_file.h"

namespace {

void fail(int line) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}
#define check(ok) ((ok) ? (void)0 : fail(__LINE__))

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct PlainReading {
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::optional<std::string> error;
};

PlainReading readPlainly(std::string_view text) {
    PlainReading r;
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        const std::string_view line = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size()) {
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        }
        if (line.size() < 3) {
            break;
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t k = 0; k < line.size() / 3; ++k) {
            const int hi = digitValue(line[3 * k]);
            const int lo = digitValue(line[3 * k + 1]);
            if (hi < 0 || lo < 0) {
                r.error =
                    "'$" + std::string(line.substr(3 * k, 2)) + "' is not a valid integer value";
                return r;
            }
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        r.datagrams.push_back(std::move(bytes));
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PlainReading expected = readPlainly(text);

    // The look at a file's first bytes names it or lets it be read; a text without NULs and
    // without a byte-order mark is always let be.
    const std::string kind = osc::describeNonText({data, size});
    check(kind.empty() || kind == "UTF-16 text, not 8-bit text" ||
          kind == "UTF-32 text, not 8-bit text" || kind == "binary data with NUL bytes, not text");
    if (text.substr(0, 1024).find('\0') == std::string_view::npos &&
        !(size >= 2 && (data[0] == 0xFF || data[0] == 0xFE))) {
        check(kind.empty());
    }

    osc::OscReader reader(text);
    std::vector<std::uint8_t> datagram;
    std::size_t count = 0;
    std::optional<std::string> error;
    try {
        while (reader.next(datagram)) {
            check(count < expected.datagrams.size());
            check(datagram == expected.datagrams[count]);
            // The trace line of a datagram reads back as the same datagram.
            const std::string line = osc::traceLine(datagram) + "\r\n";
            osc::OscReader again(line);
            std::vector<std::uint8_t> back;
            check(again.next(back) && back == datagram && !again.next(back));
            ++count;
        }
        check(!reader.next(datagram));
    } catch (const osc::OscFormatError& e) {
        error = e.what();
        check(!reader.next(datagram));
    }
    check(count == expected.datagrams.size());
    check(error == expected.error);

    // The replay, whatever the time bytes: it costs about as much as the text is long.
    {
        osc::CaptureEngine engine;
        try {
            engine.replayOscText(text);
            check(!error);
            for (const osc::ChannelTrace& trace : engine.traces) {
                check(trace.lastX() >= engine.state.FTimeBase &&
                      trace.locate(engine.state.FTimeBase) >= 0);
            }
        } catch (const osc::OscFormatError& e) {
            check(error && *error == e.what());
        }
    }
    return 0;
}
