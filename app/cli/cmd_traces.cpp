#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runTraces(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli traces: not available yet\n");
    return 2;
}

}  // namespace cli
