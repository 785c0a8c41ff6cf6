// Makes a recorder archive to play: four cameras of ffmpeg's test picture in
// H.264, 1280x720 at 25 frames per second, each recording two minutes, then
// stopping for half a minute, then recording one more minute (two archive
// files per camera), with the hour's index file, under <folder>/VIDEO.
// Usage: gavex_sample_archive <folder>
// Exits 0 when the archive is there (an existing one is kept), 1 otherwise.
//
// Only a ten-second clip is encoded; the recordings repeat it, each camera
// from another of its key frames, so that making the archive takes seconds.

#include <cstdio>
#include <filesystem>

#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

namespace {

constexpr int kRate = 25;
constexpr int64_t kStepMs = 1000 / kRate;
constexpr int kClipFrames = 10 * kRate;
constexpr int kGop = kRate;
constexpr int kCameras = 4;

// `count` frames of the clip from `startMs`, beginning at clip frame
// `offset` (a key frame) and going round.
std::vector<testsupport::ArchiveFrame> Recording(const std::vector<testsupport::ArchiveFrame>& clip, int offset,
                                                 int64_t startMs, int count)
{
    std::vector<testsupport::ArchiveFrame> frames;
    frames.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        testsupport::ArchiveFrame f = clip[static_cast<size_t>((offset + i) % kClipFrames)];
        f.unixMs = startMs + i * kStepMs;
        frames.push_back(std::move(f));
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 1;
    }
    namespace fs = std::filesystem;
    const std::string root = argv[1];
    const fs::path done = fs::path(root) / ".complete";
    if (fs::exists(done))
        return 0;
    std::error_code error;
    fs::remove_all(root, error);
    fs::create_directories(root, error);

    testsupport::H264Picture picture;
    picture.width = 1280;
    picture.height = 720;
    picture.rate = kRate;
    picture.headersOnEveryKey = true;
    const auto clip = testsupport::GenerateH264Frames(root, kClipFrames, 0, kStepMs, kGop, picture);
    fs::remove(fs::path(root) / "testsrc.h264", error);
    if (clip.size() != static_cast<size_t>(kClipFrames) || !clip.front().key) {
        std::fprintf(stderr, "ffmpeg could not make the test picture\n");
        return 1;
    }

    // Recordings of every camera: (start, frames).
    const int64_t start = testsupport::LocalUnixMs(2024, 1, 15, 10, 0, 0);
    const struct {
        int64_t startMs;
        int frames;
    } recordings[] = {{start, 120 * kRate}, {start + 150'000, 60 * kRate}};

    testsupport::ArchiveTree tree(root);
    for (int camera = 1; camera <= kCameras; ++camera) {
        const int offset = ((camera - 1) * 2 * kGop) % kClipFrames;
        uint32_t fileId = static_cast<uint32_t>(0x100 + camera * 0x10);
        for (const auto& recording : recordings) {
            const auto frames = Recording(clip, offset, recording.startMs, recording.frames);
            testsupport::TreeRecord record;
            record.camera = camera;
            record.fileId = fileId;
            record.beginMs = recording.startMs;
            record.endMs = frames.back().unixMs + kStepMs;
            tree.Add(record);
            testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(recording.startMs) +
                                        "/" + testsupport::ArchiveFileName(camera, fileId),
                                    testsupport::BuildArchiveFile(frames));
            ++fileId;
        }
    }
    tree.WriteIndexes();
    std::FILE* marker = std::fopen(done.c_str(), "w");
    if (marker == nullptr)
        return 1;
    std::fclose(marker);
    std::printf("%s\n", root.c_str());
    return 0;
}
