// Runs one native export of a source the way a windowless run does and exits
// with the report's code. Arguments: source, destination, channel ids joined
// with ",", from and to (Unix ms), the file that receives "kind code reason",
// and optionally a file-size limit in bytes for this process (writes beyond
// it fail with EFBIG instead of killing the process).

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <boost/algorithm/string/split.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "export/NativeExport.h"
#include "export/WindowlessExport.h"

int main(int argc, char** argv)
{
    if (argc < 7)
        return 2;
    namespace pt = boost::posix_time;
    const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
    auto fs = Storage::CreateVindaraFileSystem(argv[1]);
    if (!fs)
        return 3;
    fs->Initialize(false);
    Storage::ExportTask task;
    boost::split(task.ChannelIds, std::string(argv[3]), [](char c) { return c == ','; });
    task.FromTime = epoch + pt::milliseconds(std::stoll(argv[4]));
    task.ToTime = epoch + pt::milliseconds(std::stoll(argv[5]));
    if (argc > 7) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = std::stoull(argv[7]);
        const struct rlimit rl = {limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return 4;
    }
    Storage::ExportError report;
    const int code = Storage::RunExportToCompletion(Storage::CreateNativeExport(fs), argv[2], {task}, {},
                                                    [&](const Storage::ExportError& error) { report = error; });
    if (FILE* out = std::fopen(argv[6], "w")) {
        std::fprintf(out, "%d %lld %s", report.kind, static_cast<long long>(report.code), report.reason.c_str());
        std::fclose(out);
    }
    return code == 0 ? 0 : (code & 0xFF ? code & 0xFF : 1);
}
