// Writes a long capture as an oscillogram file, in the format the simulated device streams:
// two pairs per bit period, (status, 0) with the strobe toggled, then (status, 128) with the
// data lines of the new period; 256 pairs a datagram. A tenth of the time a frame (random
// payload of 8 bytes, sim/hdlc.h) runs on one of the three data lines in turn; otherwise the
// lines idle at 1.
//
//   gen_long_capture FILE SECONDS [BITRATE]   (BITRATE defaults to 115200)
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/files/osc_file.h"
#include "sim/hdlc.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE SECONDS [BITRATE]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const long long bitRate = argc > 3 ? std::atoll(argv[3]) : 115200;
    const auto periods = static_cast<unsigned long long>(seconds * static_cast<double>(bitRate));
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr std::uint8_t kLineBits[] = {0x40, 0x80, 0x10};
    constexpr int kPairs = 256;
    std::mt19937_64 rng(1);
    std::vector<std::uint8_t> frame;
    std::size_t framePos = 0;
    int line = 0;
    std::uint8_t data = 0;  // status bits of the data lines (set: line at 0)
    std::uint8_t strobe = 0;
    std::vector<std::uint8_t> datagram{'#', 0x08, 0x02, 0x00, 0x0A, 0x00, 0x00, 0x0B};
    std::string text;
    unsigned long long bytes = 0;
    for (unsigned long long k = 0; k < periods; ++k) {
        if (k % 1000 == 900) {  // a frame on the next line
            std::vector<std::uint8_t> payload(8);
            for (std::uint8_t& b : payload) {
                b = static_cast<std::uint8_t>(rng());
            }
            frame = osc::sim::frameBits(payload);
            framePos = 0;
            line = (line + 1) % 3;
        }
        strobe ^= 0x04;
        datagram.push_back(static_cast<std::uint8_t>(strobe | data));
        datagram.push_back(0);
        data = 0;
        if (framePos < frame.size()) {
            data = frame[framePos++] == 0 ? kLineBits[line] : 0;
        }
        datagram.push_back(static_cast<std::uint8_t>(strobe | data));
        datagram.push_back(128);
        if (datagram.size() == 8 + 2 * kPairs || k + 1 == periods) {
            text.clear();
            osc::appendTraceLine(text, datagram);
            text += "\r\n";
            if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
                std::perror(argv[1]);
                return 1;
            }
            bytes += text.size();
            datagram.resize(8);
        }
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%llu bit periods, %llu bytes\n", periods, bytes);
    return 0;
}
