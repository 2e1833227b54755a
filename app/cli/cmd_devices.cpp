#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runDevices(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli devices: not available yet\n");
    return 2;
}

}  // namespace cli
