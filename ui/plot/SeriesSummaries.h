#pragma once
// The level-of-detail summaries (ui/plot/StairRenderer.h) of the six series of a capture, each
// brought in line with its trace when it is read: the plot and the overview strip draw from the
// same ones, so that the blocks of a capture are summarised once.

#include <array>
#include <cstddef>

#include "core/trace/channels.h"
#include "ui/plot/StairRenderer.h"

namespace ui {

class SeriesSummaries {
  public:
    // The summary of series index (0 to osc::kSeriesCount - 1), in line with trace.
    const TraceSummary& of(int index, const osc::ChannelTrace& trace) {
        TraceSummary& summary = summaries_[static_cast<std::size_t>(index)];
        summary.update(trace);
        return summary;
    }

  private:
    std::array<TraceSummary, osc::kSeriesCount> summaries_;
};

}  // namespace ui
