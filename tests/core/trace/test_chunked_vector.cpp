// The chunked sequence against std::vector: random appends, inserts, removals, resizes, writes,
// copies and moves leave both with the same elements, across the doubling chunks and the large
// ones; elements never move as it grows; the standard searches work on its iterators.
#include "core/trace/chunked_vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

namespace osc {
namespace {

// As large as a trace's block, and not a power of two: large chunks do not divide evenly.
struct Wide {
    std::string text;
    std::array<std::uint64_t, 8> fill{};
    bool operator==(const Wide&) const = default;
};
static_assert(sizeof(Wide) % 64 != 0);

Wide wide(std::uint64_t n) {
    Wide w;
    w.text = std::to_string(n) + std::string(n % 40, 'x');  // on the heap from 16 characters
    w.fill.fill(n);
    return w;
}

template <class T, class Make>
void expectSameAsVector(std::mt19937_64& random, std::size_t steps, Make make) {
    ChunkedVector<T> got;
    std::vector<T> want;
    for (std::size_t s = 0; s < steps; ++s) {
        const std::uint64_t r = random();
        switch (r % 16) {
            case 0: {  // insert somewhere
                const std::size_t at = want.empty() ? 0 : (r >> 8) % (want.size() + 1);
                got.insert(got.begin() + static_cast<std::ptrdiff_t>(at), make(r));
                want.insert(want.begin() + static_cast<std::ptrdiff_t>(at), make(r));
                break;
            }
            case 1:
                if (!want.empty()) {
                    got.pop_back();
                    want.pop_back();
                }
                break;
            case 2:
                if (!want.empty()) {
                    const std::size_t at = (r >> 8) % want.size();
                    got[at] = make(r + 1);
                    want[at] = make(r + 1);
                }
                break;
            case 3: {  // shorter, or longer by default elements
                const std::size_t less = (r >> 8) % 40;
                const std::size_t n = want.size() + 20 - std::min(less, want.size() + 20);
                got.resize(n);
                want.resize(n);
                break;
            }
            default:
                got.push_back(make(r));
                want.push_back(make(r));
                break;
        }
    }
    ASSERT_EQ(got.size(), want.size());
    ASSERT_GE(got.capacity(), got.size());
    ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end()));
    if (!want.empty()) {
        EXPECT_EQ(got.front(), want.front());
        EXPECT_EQ(got.back(), want.back());
    }
    ChunkedVector<T> copy(got);
    ChunkedVector<T> moved(std::move(got));
    EXPECT_TRUE(got.empty());  // NOLINT: a moved-from sequence is empty
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), want.begin(), want.end()));
    EXPECT_TRUE(std::equal(moved.begin(), moved.end(), want.begin(), want.end()));
    copy = ChunkedVector<T>();
    copy = moved;
    EXPECT_EQ(copy.size(), want.size());
    copy.clear();
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(copy.capacity(), 0U);
}

TEST(ChunkedVector, HoldsWhatAVectorHoldsAfterAnyEdits) {
    std::mt19937_64 random(11);
    // Few edits; then past the doubling chunks into the large ones (16,376 and 38,221 elements
    // for the wide type), with inserts moving tails across chunk borders.
    for (std::size_t steps : {0, 1, 7, 300, 5000, 60000}) {
        SCOPED_TRACE(steps);
        expectSameAsVector<Wide>(random, steps, wide);
        expectSameAsVector<std::uint32_t>(random, steps,
                                          [](std::uint64_t r) { return std::uint32_t(r); });
    }
}

TEST(ChunkedVector, ElementsStayWhereTheyAreAndSearchesWork) {
    ChunkedVector<std::uint64_t> v;
    std::vector<const std::uint64_t*> addresses;
    constexpr std::uint64_t kCount = 3'000'000;  // past the doubling chunks of 8-byte elements
    for (std::uint64_t i = 0; i < kCount; ++i) {
        addresses.push_back(&v.emplace_back(3 * i));
    }
    for (std::uint64_t i = 0; i < kCount; i += 997) {
        ASSERT_EQ(&v[i], addresses[i]);
        ASSERT_EQ(v[i], 3 * i);
    }
    // Runs of neighbours in memory cover the sequence, from any start.
    for (std::uint64_t from : {std::uint64_t{0}, std::uint64_t{77}, std::uint64_t{1'000'001}}) {
        std::uint64_t i = from;
        std::size_t runs = 0;
        for (std::span<const std::uint64_t> r = v.run(i); !r.empty(); r = v.run(i), ++runs) {
            ASSERT_EQ(r.data(), addresses[i]);
            ASSERT_EQ(&r.back(), addresses[i + r.size() - 1]);
            ASSERT_EQ(r.back(), 3 * (i + r.size() - 1));
            i += r.size();
        }
        EXPECT_EQ(i, kCount);
        EXPECT_GT(runs, 1u);
        EXPECT_LT(runs, 30u);
    }
    EXPECT_TRUE(v.run(kCount).empty());
    for (std::uint64_t x : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3 * 1024},
                            std::uint64_t{3 * 2'096'127 + 2}, 3 * kCount, 3 * kCount + 5}) {
        const auto it = std::lower_bound(v.begin(), v.end(), x);
        EXPECT_EQ(static_cast<std::uint64_t>(it - v.begin()), std::min(kCount, (x + 2) / 3));
        const auto cit =
            std::partition_point(v.cbegin(), v.cend(), [x](std::uint64_t y) { return y < x; });
        EXPECT_EQ(cit - v.cbegin(), it - v.begin());
    }
}

}  // namespace
}  // namespace osc
