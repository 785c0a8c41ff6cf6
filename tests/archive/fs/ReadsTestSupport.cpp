#include "ReadsTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "archive/files/ArchiveSettings.h"
#include "base/Tss.h"

namespace readstest {

ReadsArchive::ReadsArchive() {
    m_drive0 = m_tmp.Path() + "/d0";
    m_drive1 = m_tmp.Path() + "/d1";
    testsupport::ArchiveTree tree0(m_drive0);
    testsupport::ArchiveTree tree1(m_drive1);
    AddFile(tree0, 0, 1, 1, At(10, 0, 0), 30);
    AddFile(tree0, 0, 1, 2, At(10, 0, 5), 30);
    AddFile(tree1, 1, 1, 3, At(11, 0, 0), 20);
    AddFile(tree0, 0, 2, 4, At(12, 0, 0), 30);
    AddFile(tree0, 0, 2, 5, At(12, 0, 2), 30);
    tree0.WriteIndexes(0xAB01, 0);
    tree1.WriteIndexes(0xAB01, 1);

    Settings settings;
    settings.GetChannel(2).name = L"Gate";
    settings.Save(tree0.ArchiveFolder() + "/Settings.xml");
}

void ReadsArchive::AddFile(testsupport::ArchiveTree& tree, int drive, int camera, uint32_t fileId, int64_t beginMs,
                           int frames) {
    const int64_t endMs = beginMs + (frames - 1) * 100;
    tree.Add({camera, fileId, beginMs, endMs});
    FixtureFile file{camera, fileId, drive, beginMs, frames,
                     tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(beginMs) + "/" +
                         testsupport::ArchiveFileName(camera, fileId)};
    testsupport::WriteBytes(file.path,
                            testsupport::BuildArchiveFile(testsupport::MakeSyntheticFrames(frames, beginMs, 100, 10, 64)));
    m_files.push_back(file);
}

const FixtureFile& ReadsArchive::File(int camera, uint32_t fileId) const {
    for (const auto& f : m_files)
        if (f.camera == camera && f.fileId == fileId) return f;
    throw std::out_of_range("no such fixture file");
}

std::vector<int64_t> ReadsArchive::FrameTimes(int camera) const {
    std::vector<int64_t> times;
    for (const auto& f : m_files)
        if (f.camera == camera)
            for (int i = 0; i < f.frames; ++i) times.push_back(f.beginMs + i * 100);
    return times;
}

VideoFramePtr CommandFrame(int camera, const std::string& text) {
    VideoFramePtr frame(new VideoFrame("", camera), false);
    frame->m_sFileId = text;
    return frame;
}

std::string TimeText(int64_t unixMs) {
    const TSS t = TSS::FromUtc(static_cast<uint64_t>(unixMs) + kArchiveUnixOffsetMs);
    char text[64];
    std::snprintf(text, sizeof text, "time %02u-%02u-%02u %02u:%02u:%02u.%03u", t.wDay, t.wMonth, t.wYear % 100,
                  t.wHour, t.wMinute, t.wSecond, t.dwMilliseconds);
    return text;
}

int64_t FrameUnixMs(const VideoFrame& frame) {
    return static_cast<int64_t>(frame.m_tssTime.ToUtcMilliseconds() - kArchiveUnixOffsetMs);
}

}  // namespace readstest
