#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int runDecode(const QStringList&) {
    std::fprintf(stderr, "morvelip-osc-cli decode: not available yet\n");
    return 2;
}

}  // namespace cli
