#include "core/trace_completion.h"

// Placeholder until the linear completion lands: the pass-by-pass procedure serves both.
namespace osc {

std::size_t CompleteTraceByPasses(ChannelTrace& trace, const std::function<void()>& progressStep) {
    trace.setHidden(true);
    std::size_t steps = 0;
    bool again = true;
    while (again) {
        again = false;
        const std::size_t n = trace.count();
        for (std::size_t i = 1; i < n; ++i) {
            const Tick x0 = trace.xs()[i - 1];
            const Tick x1 = trace.xs()[i];
            const std::uint8_t y0 = trace.ys()[i - 1];
            const Tick d = x1 - x0;
            if (d <= kTicksPerBit) {
                continue;
            }
            trace.add(x0 + kTicksPerBit, y0);
            if (d > 2 * kTicksPerBit) {
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
    trace.setHidden(false);
    return steps;
}

std::size_t CompleteTrace(ChannelTrace& trace, const std::function<void()>& progressStep) {
    return CompleteTraceByPasses(trace, progressStep);
}

}  // namespace osc
