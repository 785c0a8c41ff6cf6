#include "archive/files/FastIndex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "archive/files/VolumePaths.h"
#include "base/Log.h"
#include "base/ModuleDir.h"

namespace {

constexpr char kMagic[10] = {'F', 'A', 'S', 'T', '_', 'I', 'N', 'D', 'E', 'X'};

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLe(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

uint64_t NowUnixMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// Writes all bytes, continuing after partial writes; false when the system
// refuses to take any more.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string ErrnoText() { return GetSystemErrorMessage(errno); }

}  // namespace

std::string FastIndexPath(const std::string& archiveFolder) {
    return VolumePaths::Join(VolumePaths::ChildNoCase(archiveFolder, "INDEX"), kFastIndexFileName);
}

std::vector<uint8_t> BuildFastIndexHeader(uint64_t createdUnixMs) {
    std::vector<uint8_t> header(kMagic, kMagic + sizeof kMagic);
    PutLe(header, kFastIndexVersion, 8);
    PutLe(header, createdUnixMs, 8);
    header.resize(kFastIndexHeaderSize, 0);
    return header;
}

void AppendFastIndexEntryBytes(std::vector<uint8_t>& out, const FastIndexHourEntry& entry) {
    out.push_back(0);
    PutLe(out, static_cast<uint32_t>(entry.cameraId), 4);
    PutLe(out, static_cast<uint32_t>(entry.hour), 4);
}

std::vector<size_t> FastIndexChunkSizes(size_t total, int chunkSizeMb) {
    std::vector<size_t> pieces;
    const size_t chunk = chunkSizeMb > 0 ? static_cast<size_t>(chunkSizeMb) << 20 : 0;
    if (chunk == 0 || total < chunk) {
        pieces.push_back(total);
        return pieces;
    }
    for (size_t done = 0; done < total; done += chunk) pieces.push_back(std::min(chunk, total - done));
    return pieces;
}

void SaveFastIndex(const std::string& archiveFolder, const std::vector<FastIndexHourEntry>& entries,
                   int chunkSizeMb) {
    if (entries.empty()) {
        DeleteFastIndex(archiveFolder);
        return;
    }
    const std::string path = FastIndexPath(archiveFolder);
    // Written over the old file and then cut to length rather than emptied
    // first: a file emptied and written again is flushed at once on close by
    // some file systems (ext4's replace-by-truncate rule). A failed write
    // leaves an empty file, which no reader takes for a fast index.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][SAVE][ERROR] Failed to save fast index file: \"%s\". error code: %s",
                      path.c_str(), ErrnoText().c_str());
        return;
    }
    bool whole = true;
    const std::vector<uint8_t> header = BuildFastIndexHeader(NowUnixMs());
    if (!WriteAll(fd, header.data(), header.size())) {
        whole = false;
        QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][SAVE][ERROR] WriteFile header - '%s', %s", path.c_str(),
                      ErrnoText().c_str());
    }

    std::vector<uint8_t> block;
    block.reserve(entries.size() * kFastIndexEntrySize);
    for (const auto& e : entries) AppendFastIndexEntryBytes(block, e);
    size_t offset = 0;
    for (size_t piece : FastIndexChunkSizes(block.size(), chunkSizeMb)) {
        if (!WriteAll(fd, block.data() + offset, piece)) {
            whole = false;
            // The stray '%' belongs to the log text; the line is built here so
            // that it reaches the log as data.
            QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][SAVE][ERROR] WriteFile HourEntry data - '%s%%, %s",
                          path.c_str(), ErrnoText().c_str());
            break;
        }
        offset += piece;
    }
    (void)!::ftruncate(fd, whole ? static_cast<off_t>(header.size() + block.size()) : 0);
    ::close(fd);
}

bool AppendFastIndexEntry(const std::string& archiveFolder, const FastIndexHourEntry& entry) {
    return AppendFastIndexEntries(archiveFolder, std::vector<FastIndexHourEntry>{entry});
}

bool AppendFastIndexEntries(const std::string& archiveFolder, const std::vector<FastIndexHourEntry>& entries) {
    const std::string path = FastIndexPath(archiveFolder);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        Log()->Message("[FS][INDEX][FASTINDEX] Failed to open \"%s\". Error code: %s.", path.c_str(),
                       ErrnoText().c_str());
        return false;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < 0) {
        Log()->Message("[FS][INDEX][FASTINDEX] Failed to read file size \"%s\".", path.c_str());
        ::close(fd);
        return false;
    }
    bool ok = true;
    if (size == 0) {
        const std::vector<uint8_t> header = BuildFastIndexHeader(NowUnixMs());
        if (!WriteAll(fd, header.data(), header.size())) {
            Log()->Message("[FS][INDEX][FASTINDEX] Failed to save header to \"%s\".", path.c_str());
            ok = false;
        }
    }
    if (ok) {
        std::vector<uint8_t> bytes;
        for (const FastIndexHourEntry& entry : entries) AppendFastIndexEntryBytes(bytes, entry);
        if (!WriteAll(fd, bytes.data(), bytes.size())) {
            Log()->Message("[FS][INDEX][FASTINDEX] Failed to add entry to \"%s\".", path.c_str());
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

bool LoadFastIndex(const std::string& archiveFolder, uint64_t& fileSize, FastIndexMap& hours) {
    fileSize = 0;
    const std::string path = FastIndexPath(archiveFolder);
    auto failOpen = [&] {
        QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][LOAD][ERROR] Failed to load fast index file \"%s\", error code: %s.",
                      path.c_str(), ErrnoText().c_str());
        return false;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failOpen();
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (errno == 0) errno = EINVAL;
        ::close(fd);
        return failOpen();
    }
    const size_t size = static_cast<size_t>(st.st_size);
    const uint8_t* data = nullptr;
    void* mapped = MAP_FAILED;
    if (size > 0) {
        mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped == MAP_FAILED) {
            ::close(fd);
            return failOpen();
        }
        data = static_cast<const uint8_t*>(mapped);
    }
    ::close(fd);
    fileSize = size;

    bool ok = size >= 18 && std::memcmp(data, kMagic, sizeof kMagic) == 0 && GetLe(data + 10, 8) == kFastIndexVersion;
    if (!ok) {
        QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][HEADER][ERROR] Failed to check header for fast index file \"%s\".",
                      path.c_str());
    } else {
        for (size_t offset = kFastIndexHeaderSize; offset + kFastIndexEntrySize <= size; offset += kFastIndexEntrySize) {
            const int32_t camera = static_cast<int32_t>(static_cast<uint32_t>(GetLe(data + offset + 1, 4)));
            const int32_t hour = static_cast<int32_t>(static_cast<uint32_t>(GetLe(data + offset + 5, 4)));
            hours[camera].insert(hour);
        }
    }
    if (mapped != MAP_FAILED) ::munmap(mapped, size);
    return ok;
}

bool DeleteFastIndex(const std::string& archiveFolder) {
    const std::string path = FastIndexPath(archiveFolder);
    if (::unlink(path.c_str()) == 0) {
        Log()->Message("[FS][INDEX][FASTINDEX][DELETE] File \"%s\" removed.", path.c_str());
        return true;
    }
    QOR_LOG_ERROR(Log(), "[FS][INDEX][FASTINDEX][DELETE][ERROR] Failed to delete fast index file: \"%s\", error code: %s.",
                  path.c_str(), ErrnoText().c_str());
    return false;
}
