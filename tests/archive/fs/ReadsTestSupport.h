#pragma once
// A small recorder archive on two temporary drives for the frame-read tests
// (local time zone UTC+2 while a fixture lives):
//   camera 1: file 1  10:00:00.000, 30 frames 100 ms apart (drive 0)
//             file 2  10:00:05.000, 30 frames               (drive 0)
//             -- gap --
//             file 3  11:00:00.000, 20 frames               (drive 1, next hour)
//   camera 2: file 1  12:00:00.000, 30 frames; file 2 12:00:02.000, 30 frames
//             (the two overlap by one second); named "Gate" in Settings.xml
// All on 2024-03-05, H.264-tagged frames with a key frame every 10 frames.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "archive/fs/FileSystem.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace readstest {

struct FixtureFile {
    int camera;
    uint32_t fileId;
    int drive;
    int64_t beginMs;  // Unix ms
    int frames;
    std::string path;
};

class ReadsArchive {
public:
    ReadsArchive();
    std::set<std::string> Drives() const { return {m_drive0, m_drive1}; }
    const std::vector<FixtureFile>& Files() const { return m_files; }
    const FixtureFile& File(int camera, uint32_t fileId) const;
    // Frame times (Unix ms) of a camera's files in time order.
    std::vector<int64_t> FrameTimes(int camera) const;
    const std::string& Root() const { return m_tmp.Path(); }

    static int64_t At(int hour, int minute, int second, int ms = 0) {
        return testsupport::LocalUnixMs(2024, 3, 5, hour, minute, second, ms);
    }

private:
    void AddFile(testsupport::ArchiveTree& tree, int drive, int camera, uint32_t fileId, int64_t beginMs, int frames);

    enginetest::ScopedTimeZone m_zone{"GVX-2"};
    testsupport::ArchiveTempDir m_tmp;
    std::string m_drive0;
    std::string m_drive1;
    std::vector<FixtureFile> m_files;
};

// A command frame of a camera with a navigation text.
VideoFramePtr CommandFrame(int camera, const std::string& text);
// "time DD-MM-YY hh:mm:ss.mmm" of a Unix ms time in local time.
std::string TimeText(int64_t unixMs);
// Unix ms of a frame's local time stamp.
int64_t FrameUnixMs(const VideoFrame& frame);

}  // namespace readstest
