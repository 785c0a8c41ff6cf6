#pragma once
// Data and references shared by the benchmark programs.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>
#include <vector>

#include "support/MediaFiles.h"

namespace benchfiles {

// Times one run of ours and one of the reference, the reference first on odd
// turns so that neither side always finds the caches the other left; the
// seconds each took, ours first.
template <class Ours, class Reference>
std::pair<double, double> TimeBothInTurn(std::int64_t turn, Ours&& ours, Reference&& reference)
{
    using Clock = std::chrono::steady_clock;
    const auto time = [](auto&& work) {
        const auto start = Clock::now();
        work();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    if (turn % 2 == 0) {
        const double a = time(ours);
        return {a, time(reference)};
    }
    const double b = time(reference);
    return {time(ours), b};
}

// A YV12 picture of width x height in `bits` (`pitch` bytes a luma row, the
// chroma planes after the luma plane): a luma ramp moved by `seed`, and chroma
// in 96..159.
inline void FillTestPlanes(std::uint8_t* bits, int pitch, int width, int height, int seed)
{
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bits[y * pitch + x] = static_cast<std::uint8_t>(x + y + seed);
    std::uint8_t* chroma = bits + pitch * height;
    for (int i = 0; i < pitch * height / 2; ++i)
        chroma[i] = static_cast<std::uint8_t>(96 + (i + seed) % 64);
}

// The in-process reference for opening from indexes: a plain readdir walk of
// the tree, every folder listed and entered; an entry is stat'ed only where
// the file system does not give its type. The number of entries.
inline int64_t WalkTree(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int64_t entries = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        ++entries;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            isDir = ::stat((folder + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            entries += WalkTree(folder + "/" + e->d_name);
    }
    ::closedir(dir);
    return entries;
}

// A temporary folder "<prefix>-<pid>" holding, for each count, a folder of
// that many copies of one 1080p H.264 file of `seconds`, named as cameras.
// The folder goes when the program ends.
inline std::filesystem::path MakeCameraCopies(const std::string& prefix, double seconds,
                                              std::initializer_list<int> counts)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string master = (dir / "master.mp4").string();
    std::vector<std::string> args = gavex_test::TestVideoInput(seconds, 25, "1920x1080");
    args.insert(args.end(), {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-pix_fmt", "yuv420p", master});
    if (!gavex_test::RunFfmpeg(args))
        std::fprintf(stderr, "ffmpeg could not make the 1080p file\n");
    for (int count : counts) {
        const fs::path folder = dir / std::to_string(count);
        fs::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Cam%02d 2019-03-04 05-06-00_000.mp4", i + 1);
            fs::copy_file(master, folder / name, fs::copy_options::overwrite_existing);
        }
    }
    static struct Removal {
        std::vector<fs::path> folders;
        ~Removal()
        {
            for (const fs::path& folder : folders) {
                std::error_code ignored;
                fs::remove_all(folder, ignored);
            }
        }
    } removal;
    removal.folders.push_back(dir);
    return dir;
}

}  // namespace benchfiles
