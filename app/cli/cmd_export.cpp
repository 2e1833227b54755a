#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runExport(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli export: not available yet\n");
    return 2;
}

}  // namespace cli
