// Appends batches of numbered lines to the log of this program, one flush per
// batch: log_batch_writer <log folder> <tag> <batches> <lines per batch>.
// The flush period comes from the registry store (GAVEX_REGISTRY_DIR).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Log.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <log folder> <tag> <batches> <lines per batch>\n", argv[0]);
        return 2;
    }
    const int batches = std::atoi(argv[3]);
    const int lines = std::atoi(argv[4]);
    const QorLog::DebugSettings settings{48, 100, 2, 1, 2, 8192, 4096};
    QorLog::CDebug log(argv[1], "SOFTWARE\\LogTest", "", &settings);
    const std::string padding(100, 'x');
    for (int b = 0; b < batches; ++b) {
        for (int i = 0; i < lines; ++i) log.Message("tag=%s batch=%03d line=%04d %s", argv[2], b, i, padding.c_str());
        if (!log.FlushAndCopy(nullptr)) return 1;
    }
    return 0;
}
