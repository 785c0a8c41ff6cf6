// Uses the process-wide logger the way the program does and reports what it
// got: prints "same=<0|1> path=<log path>" and logs one line, which must reach
// the log file when the process exits. Settings come from the registry store
// (GAVEX_REGISTRY_DIR).
#include <cstdio>

#include "base/Log.h"

int main() {
    QorLog::CDebug* first = getDebugInstance("", "SOFTWARE\\LogTest");
    QorLog::CDebug* second = getDebugInstance("/nowhere", "SOFTWARE\\Other");
    QorLog::CDebug* third = createDebugInstance("/elsewhere", "SOFTWARE\\Third");
    const bool same = first != nullptr && first == second && first == third;
    std::printf("same=%d path=%s\n", same ? 1 : 0, first->GetLogPath().c_str());
    first->Message("written at exit");
    return 0;
}
