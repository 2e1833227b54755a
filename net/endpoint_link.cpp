#include "net/endpoint_link.h"

namespace osc::net {

std::uint64_t lostDatagrams(const EndpointStats& stats) {
    return stats.droppedByKernel + stats.droppedQueueFull + stats.droppedOversize +
           stats.receiveErrors;
}

}  // namespace osc::net
