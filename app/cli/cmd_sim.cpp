#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runSim(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli sim: not available yet\n");
    return 2;
}

}  // namespace cli
