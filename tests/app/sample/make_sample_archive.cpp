// Makes a small recorder archive to play: four cameras of ffmpeg's test
// picture in H.264 (160x120, 5 frames per second, one minute each) with the
// hour's index file, under <folder>/VIDEO. Usage: gavex_sample_archive <folder>
// Exits 0 when the archive is there (an existing one is kept), 1 otherwise.

#include <cstdio>
#include <filesystem>

#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTree.h"

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

    const int64_t start = testsupport::LocalUnixMs(2024, 1, 15, 10, 0, 0);
    const int64_t stepMs = 200;
    const auto frames = testsupport::GenerateH264Frames(root, 300, start, stepMs, 10);
    fs::remove(fs::path(root) / "testsrc.h264", error);
    if (frames.empty()) {
        std::fprintf(stderr, "ffmpeg could not make the test picture\n");
        return 1;
    }
    testsupport::ArchiveTree tree(root);
    for (int camera = 1; camera <= 4; ++camera) {
        testsupport::TreeRecord record;
        record.camera = camera;
        record.fileId = static_cast<uint32_t>(0x100 + camera);
        record.beginMs = start;
        record.endMs = frames.back().unixMs + stepMs;
        tree.Add(record);
        testsupport::WriteBytes(tree.ArchiveFolder() + "/" + testsupport::LocalHourFolder(start) + "/" +
                                    testsupport::ArchiveFileName(camera, record.fileId),
                                testsupport::BuildArchiveFile(frames));
    }
    tree.WriteIndexes();
    std::FILE* marker = std::fopen(done.c_str(), "w");
    if (marker == nullptr)
        return 1;
    std::fclose(marker);
    std::printf("%s\n", root.c_str());
    return 0;
}
