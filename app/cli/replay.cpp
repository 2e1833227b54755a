#include "app/cli/replay.h"

#include <cstdio>
#include <exception>
#include <string>

#include "core/osc_file.h"

namespace cli {

std::string localPath(const QString& path) { return path.toLocal8Bit().toStdString(); }

bool replayFileForCli(const QString& path, osc::CaptureEngine& engine) {
    try {
        const std::string text = osc::readWholeFile(localPath(path));
        engine.replayOscText(text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    return true;
}

}  // namespace cli
