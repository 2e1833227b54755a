#include "core/trace/trace_completion.h"

#include <cstdint>

namespace osc {

namespace {

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

}  // namespace

std::size_t CompleteTrace(ChannelTrace& trace, const std::function<void()>& progressStep) {
    HiddenWhile<ChannelTrace> hidden(trace);
    const std::uint64_t steps = trace.complete();
    if (progressStep) {
        for (std::uint64_t s = 0; s < steps; ++s) {
            progressStep();
        }
    }
    return static_cast<std::size_t>(steps);
}

}  // namespace osc
