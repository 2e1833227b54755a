#include "tests/oracles/completion_by_passes.h"

#include <cstdint>

namespace osc {

namespace {

constexpr std::uint64_t kBit = static_cast<std::uint64_t>(kTicksPerBit);

// Hides the trace while a completion runs, as CompleteTrace does.
template <class Trace>
class HiddenWhile {
  public:
    explicit HiddenWhile(Trace& trace) : trace_(trace) { trace_.setHidden(true); }
    ~HiddenWhile() { trace_.setHidden(false); }
    HiddenWhile(const HiddenWhile&) = delete;
    HiddenWhile& operator=(const HiddenWhile&) = delete;

  private:
    Trace& trace_;
};

template <class Trace>
std::size_t completeByPasses(Trace& trace, const std::function<void()>& progressStep) {
    HiddenWhile<Trace> hidden(trace);
    std::size_t steps = 0;
    bool again = true;
    while (again) {
        again = false;
        const auto n = static_cast<std::ptrdiff_t>(trace.count());
        Tick x1 = n > 0 ? trace.x(0) : 0;
        for (std::ptrdiff_t i = 1; i < n; ++i) {
            const Tick x0 = x1;
            x1 = trace.x(i);
            if (x1 <= x0 ||
                static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0) <= kBit) {
                continue;
            }
            const std::uint8_t y0 = trace.y(i - 1);
            const std::uint64_t d = static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0);
            trace.add(x0 + kTicksPerBit, y0);
            if (d > 2 * kBit) {
                trace.add(x1 - kTicksPerBit, y0);
            }
            if (i % 100 == 0) {
                ++steps;
                if (progressStep) {
                    progressStep();
                }
            }
            again = true;
            break;
        }
    }
    return steps;
}

}  // namespace

std::size_t CompleteTraceByPasses(ReferenceTrace& trace,
                                  const std::function<void()>& progressStep) {
    return completeByPasses(trace, progressStep);
}

std::size_t CompleteTraceByPasses(ChannelTrace& trace, const std::function<void()>& progressStep) {
    return completeByPasses(trace, progressStep);
}

}  // namespace osc
