#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runCapture(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli capture: not available yet\n");
    return 2;
}

}  // namespace cli
