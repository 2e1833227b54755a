#include "core/view/cursor_snap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace osc {
namespace {

ChannelTrace traceOf(std::initializer_list<Tick> xs) {
    ChannelTrace t;
    for (Tick x : xs) {
        t.add(x, 1);
    }
    return t;
}

// The scan as the mouse-move handler describes it, step by step, reading points by index.
std::optional<double> literalScan(const ChannelTrace& t, double min, double max, double mx) {
    const std::ptrdiff_t f = t.firstVisible(min);
    const std::ptrdiff_t l = t.lastVisible(min, max);
    std::ptrdiff_t i = f;
    if (l >= f) {
        for (std::ptrdiff_t k = 0; k < l - f + 1; ++k) {
            if (i == -1)
                break;
            if (static_cast<double>(t.x(i)) - mx >= 0)
                break;
            ++i;
        }
    }
    if (i == -1)
        return kNoCursor;
    try {
        return static_cast<double>(t.x(i - 1));
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

struct SnapRow {
    const char* name;
    double min, max, mx;
    std::optional<double> cursor;
};

TEST(SnapCursor, Cases) {
    const ChannelTrace t = traceOf({0, 1000, 3000});
    const SnapRow rows[] = {
        {"mouse between points", 0, 25600, 2000, 1000.0},
        {"mouse on a point", 0, 25600, 1000, 0.0},
        {"mouse inside the first level", 0, 25600, 500, 0.0},
        {"window from 1500: a point left of the window", 1500, 27100, 2000, 1000.0},
        {"mouse on the first point: read fails", 0, 25600, 0, std::nullopt},
        {"mouse left of the first point: read fails", 0, 25600, -10, std::nullopt},
        {"trace ends left of the window", 3000.5, 28600, 4000, kNoCursor},
        {"mouse right of the last point", 0, 25600, 5000, 3000.0},
        {"scan passes the last visible point", 0, 500, 5000, 1000.0},
        {"last visible is the first one at the maximum", 0, 1000, 900, 0.0},
        {"fraction just right of a point", 0, 25600, 1000.25, 1000.0},
        {"bounds the wrong way round: no scan", 1500, 500, 5000, 1000.0},
    };
    for (const SnapRow& r : rows) {
        EXPECT_EQ(snapCursor(t, r.min, r.max, r.mx), r.cursor) << r.name;
        EXPECT_EQ(literalScan(t, r.min, r.max, r.mx), r.cursor) << r.name;
    }
    EXPECT_EQ(snapCursor(ChannelTrace{}, 0, 25600, 100), kNoCursor);
}

TEST(CursorForMouse, RoundsWithCtrlOrOffTheBands) {
    ChannelTraces traces;
    traces[1] = traceOf({0, 1000, 3000});
    struct Row {
        const char* name;
        int channel;
        bool ctrl;
        double mx;
        std::optional<double> cursor;
    };
    const Row rows[] = {
        {"snapped", 1, false, 2000.4, 1000.0},
        {"ctrl: rounded", 1, true, 2000.4, 2000.0},
        {"no channel: rounded", -1, false, 2000.6, 2001.0},
        {"half to even down", -1, false, 2000.5, 2000.0},
        {"half to even up", -1, false, 2001.5, 2002.0},
        {"negative half", -1, false, -2.5, -2.0},
        {"ctrl on the first point: no read failure", 1, true, 0, 0.0},
        {"empty trace", 2, false, 100, kNoCursor},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(cursorForMouse(traces, r.channel, r.ctrl, 0, 25600, r.mx), r.cursor) << r.name;
    }
}

TEST(RoundHalfEven, MatchesNearbyint) {
    for (double v : {-3.5, -2.5, -1.5, -0.5, 0.5, 1.5, 2.5, 1e15 + 0.5, 0.49999999999999994, -7.25,
                     7.75, 4503599627370497.0}) {
        EXPECT_EQ(roundHalfEven(v), std::nearbyint(v)) << v;
    }
}

// Random traces (with runs of equal X) and windows, also windows left of and right of the
// trace and mouse positions outside the window, against the literal scan.
TEST(SnapCursor, SameAsTheScanOnRandomTraces) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        ChannelTrace t;
        const int n = std::uniform_int_distribution<int>(0, 25)(rng);
        Tick x = std::uniform_int_distribution<Tick>(0, 3)(rng) * 100;
        for (int k = 0; k < n; ++k) {
            x += std::uniform_int_distribution<int>(0, 2)(rng) == 0
                     ? 0
                     : std::uniform_int_distribution<Tick>(1, 400)(rng);
            t.add(x, 1);
        }
        std::uniform_real_distribution<double> pos(-500, static_cast<double>(x) + 800);
        const double min = std::round(pos(rng) * 2) / 2;
        const double max = min + std::uniform_int_distribution<int>(0, 3000)(rng);
        for (int m = 0; m < 8; ++m) {
            const double mx = m < 4 ? std::round(pos(rng)) : pos(rng);
            ASSERT_EQ(snapCursor(t, min, max, mx), literalScan(t, min, max, mx))
                << "round " << round << " mx " << mx;
        }
        ASSERT_EQ(snapCursor(t, min, max, std::nan("")), literalScan(t, min, max, std::nan("")));
    }
}

}  // namespace
}  // namespace osc
