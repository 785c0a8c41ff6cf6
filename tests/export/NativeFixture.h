// A recorder archive on two volumes for the native export tests: cameras 1,
// 2 and 3 on the first volume at 10:00, cameras 1 and 2 on the second at
// 11:00, real H.264 frames made by the ffmpeg tool, and a settings file of
// all three channels on each volume.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "FSImplementation/VindaraFileSystemFactory.h"
#include "export/ExportTask.h"
#include "support/TempDir.h"

namespace exporttest {

namespace pt = boost::posix_time;

pt::ptime At(int64_t unixMs);
// The binary's one application object (offscreen), made on first use: some
// tests show the export panels.
void EnsureApplication();
std::wstring Wide(const std::string& text);
int64_t Base();  // 10:00 local of the fixture's day, Unix ms

struct FrameCopy {
    int64_t unixMs;
    std::vector<uint8_t> data;
    bool operator==(const FrameCopy&) const = default;
};

struct TwoVolumeArchive {
    gavex_test::TempDir dir{"export-native"};
    std::string first = dir / "d1", second = dir / "d2";
    std::string Source() const { return first + "|" + second; }

    TwoVolumeArchive();
};

// An opened front end of a source string; fails the test when it does not open.
boost::shared_ptr<Storage::IVindaraFileSystem> Open(const std::string& source);
// Every frame of a channel from its first one on, with its data.
std::vector<FrameCopy> ReadChannel(Storage::IVindaraFileSystem& fs, const std::string& channel);
std::vector<std::string> Channels(Storage::IVindaraFileSystem& fs);
// Every file below a folder with its bytes.
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& folder);
// Relative paths of every file and folder below a folder.
std::vector<std::string> Listing(const std::string& folder);

Storage::ExportTask Task(std::vector<std::string> channels, int64_t fromMs, int64_t toMs, int row = 0);

// Runs the engine to its report; the percents of every task by row.
struct ExportRun {
    Storage::ExportError report;
    std::map<int, std::vector<int>> percents;
};
ExportRun RunExport(const boost::shared_ptr<Storage::IVindaraFileSystem>& fs, const std::string& destination,
              const std::vector<Storage::ExportTask>& tasks, int cancelAbove = -1);

}  // namespace exporttest
