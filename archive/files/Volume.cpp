#include "archive/files/Volume.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <mutex>

#include "archive/files/VolumeFreeSizeChecker.h"
#include "archive/files/VolumePaths.h"
#include "base/Log.h"
#include "base/ModuleDir.h"
#include "base/Registry.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Unsigned decimal text of the registry; false for an empty text.
bool ParseUnsigned(const std::string& text, uint32_t& value) {
    if (text.empty()) return false;
    value = static_cast<uint32_t>(std::strtol(text.c_str(), nullptr, 10));
    return true;
}

std::mutex g_settingsLock;
std::unique_ptr<VolumeSettings> g_settings;

VolumeSettings ReadVolumeSettings() {
    RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video");
    VolumeSettings settings =
        MakeVolumeSettings(key.ReadString("FreeMB", "", 32), key.ReadString("FreeMBCritical", "", 32),
                           key.ReadString("ArchFreeMB", "", 32), key.ReadString("TempWritingDir", "", 10240));
    PrepareTempWritingDir(settings);
    return settings;
}

}  // namespace

std::string FormatChannelExtension(char letter, int camera) {
    char text[32];
    if (camera <= 99)
        std::snprintf(text, sizeof text, "%c%02d", letter, camera);
    else
        std::snprintf(text, sizeof text, "%c%02X", letter, static_cast<unsigned>(camera + 60));
    return text;
}

std::string FormatHourFolderName(const TSS& t) {
    // The whole name or nothing: a folder is never named by half a time.
    if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 || t.dwMilliseconds > 999) return std::string();
    std::string date;
    if (!t.FormatDateTo(date, true)) return std::string();
    return FormatArchiveDateTime(t);
}

bool ParseHourFolderName(const std::string& name, TSS& t) {
    // Exactly "DD-MM-YY HH".
    static const char kShape[] = "99-99-99 99";
    if (name.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (kShape[i] == '9' ? !digit : name[i] != kShape[i]) return false;
    }
    auto two = [&](size_t at) { return static_cast<uint16_t>((name[at] - '0') * 10 + (name[at + 1] - '0')); };
    TSS parsed{};
    parsed.wDay = two(0);
    parsed.wMonth = two(3);
    parsed.wYear = static_cast<uint16_t>(2000 + two(6));
    parsed.wHour = two(9);
    if (!parsed.IsValidDate() || parsed.wHour > 23) return false;
    t = parsed;
    return true;
}

VolumeSettings MakeVolumeSettings(const std::string& freeMB, const std::string& freeMBCritical,
                                  const std::string& archFreeMB, const std::string& tempWritingDir) {
    VolumeSettings s;
    ParseUnsigned(freeMB, s.freeMB);
    ParseUnsigned(freeMBCritical, s.freeMBCritical);
    if (s.freeMB < s.freeMBCritical) s.freeMB = s.freeMBCritical;
    s.archFreeMB = s.freeMB;
    ParseUnsigned(archFreeMB, s.archFreeMB);
    s.tempWritingDir = tempWritingDir;
    return s;
}

void PrepareTempWritingDir(VolumeSettings& settings) {
    if (settings.tempWritingDir.empty()) return;
    struct stat st;
    if (::stat(settings.tempWritingDir.c_str(), &st) != 0) {
        const int error = errno;
        Log()->Warning("[FILESYSTEM][TEMP] Temporary directory \"%s\" is not accessible, error code: %d.",
                       settings.tempWritingDir.c_str(), error);
        Log()->Warning("[FILESYSTEM][TEMP] Temporary directory setting \"TempWritingDir\" will be ignored.");
        settings.tempWritingDir.clear();
        return;
    }
    DIR* dir = ::opendir(settings.tempWritingDir.c_str());
    if (!dir) return;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = VolumePaths::Join(settings.tempWritingDir, name);
        // Sub-folders are not removed: unlink refuses them and that is reported.
        if (::unlink(path.c_str()) == 0)
            Log()->Message("[FILESYSTEM][TEMP] Temporary file \"%s\" removed", path.c_str());
        else
            QOR_LOG_ERROR(Log(), "[FILESYSTEM][TEMP] Failed to remove temporary file \"%s\", error code= %d",
                          path.c_str(), errno);
    }
    ::closedir(dir);
}

VolumeSettings GetVolumeSettings() {
    std::lock_guard<std::mutex> lock(g_settingsLock);
    if (!g_settings) g_settings = std::make_unique<VolumeSettings>(ReadVolumeSettings());
    return *g_settings;
}

void SetVolumeSettings(const VolumeSettings& settings) {
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings = std::make_unique<VolumeSettings>(settings);
}

int GetTempWritingDirFreeMB() {
    const std::string dir = GetVolumeSettings().tempWritingDir;
    if (dir.empty()) return -1;
    struct statvfs st;
    if (::statvfs(dir.c_str(), &st) != 0) {
        QOR_LOG_ERROR(Log(),
                      "[FILESYSTEM] Could not determine temporary writing directory free space, DISK=%s, error code= %d",
                      dir.c_str(), errno);
        return -1;
    }
    return static_cast<int>((static_cast<uint64_t>(st.f_bavail) * st.f_frsize) >> 20);
}

Volume::Volume(bool archive, const std::string& rootPath, bool noFolder)
    : m_rootPath(rootPath), m_archive(archive), m_folderName(noFolder ? std::string() : std::string("VIDEO")) {
    if (!m_folderName.empty()) m_folderName = VolumePaths::ChildNameNoCase(m_rootPath, m_folderName);
}

std::string Volume::GetPath() const {
    if (m_folderName.empty()) return m_rootPath;
    return VolumePaths::Join(m_rootPath, m_folderName);
}

std::string Volume::archiveChild(const char* name) const { return VolumePaths::ChildNoCase(GetPath(), name); }

std::string Volume::GetIndexPath() const { return archiveChild("INDEX"); }
std::string Volume::GetProtectedPath() const { return archiveChild("PROTECTED"); }
std::string Volume::GetHourFolderPath(const std::string& hourFolder) const {
    return VolumePaths::Join(GetPath(), hourFolder);
}

bool Volume::CreateDirectories() {
    // The archive folder may have appeared since construction in another case.
    if (!m_folderName.empty()) m_folderName = VolumePaths::ChildNameNoCase(m_rootPath, "VIDEO");
    bool any = false;
    for (const std::string& path : {GetPath(), GetIndexPath(), GetProtectedPath()}) {
        if (!IsDirectory(path)) ::mkdir(path.c_str(), 0775);
        any = IsDirectory(path) || any;
    }
    return any;
}

bool Volume::IsMounted() const {
    const DriveType type = GetDriveType(m_rootPath);
    if (type != DriveType::Network && type != DriveType::NoRootDir) return true;
    return VolumeFreeSizeChecker::GetInstance()->IsMounted(m_rootPath);
}

bool Volume::IsAvailable() const { return IsMounted() && IsDirectory(GetPath()); }

int Volume::UpdateFreeSpace(bool force) {
    if (!IsMounted()) return 0;
    auto checker = VolumeFreeSizeChecker::GetInstance();
    if (m_freeMB == -2 || force) {
        if (!checker->UpdateFreeSpace(m_rootPath, false)) {
            m_freeMB = -2;
            return 0;
        }
        m_freeMB = checker->GetFreeMB(m_rootPath);
        Log()->Message("[FS] Initial disk \"%s\" free space is %.2fGB", m_rootPath.c_str(), m_freeMB / 1024.0);
    } else {
        m_freeMB = checker->GetFreeMB(m_rootPath);
    }
    return m_freeMB == -2 ? 0 : m_freeMB;
}

bool IsVolumeFull(bool archive, int freeMB, const VolumeSettings& s) {
    const uint32_t threshold = archive ? s.archFreeMB : s.freeMB;
    return freeMB == 0 || static_cast<uint32_t>(freeMB) <= threshold;
}

bool Volume::IsFull() const { return IsVolumeFull(m_archive, m_freeMB, GetVolumeSettings()); }

std::string Volume::GetFilePath(int camera, int64_t fileId, const std::string& hourFolder, char letter) const {
    if (camera == 0) return VolumePaths::Join(GetPath(), "label.iss");
    const std::string ext = FormatChannelExtension(letter, camera);
    if (fileId == kRemoteFileId) return VolumePaths::Join(GetPath(), "remote." + ext);
    if (fileId < 0) {
        const std::string temp = GetVolumeSettings().tempWritingDir;
        return VolumePaths::Join(temp.empty() ? GetPath() : temp, "writing." + ext);
    }
    char name[32];
    std::snprintf(name, sizeof name, "%" PRIX32 ".", static_cast<uint32_t>(fileId));
    return VolumePaths::Join(GetHourFolderPath(hourFolder), name + ext);
}

std::string Volume::GetWritingFilePath(int camera, const std::string& suffix) const {
    const std::string temp = GetVolumeSettings().tempWritingDir;
    return VolumePaths::Join(temp.empty() ? GetPath() : temp,
                             "writing" + suffix + "." + FormatChannelExtension(kVideoLetter, camera));
}

std::string Volume::GetProtectedFilePath(int camera, int64_t fileId, const TSS& entryTime, char letter) const {
    if (camera == 0 || fileId < 0) return std::string();
    char name[32];
    std::snprintf(name, sizeof name, "%" PRIX32 ".", static_cast<uint32_t>(fileId));
    return VolumePaths::Join(GetProtectedPath(),
                             FormatHourFolderName(entryTime) + " " + name + FormatChannelExtension(letter, camera));
}

bool GetFileCreationUnixMs(const std::string& path, uint64_t& unixMs, int& error) {
    struct statx stx;
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) {
        error = errno;
        return false;
    }
    const statx_timestamp& t = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
    unixMs = static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    return true;
}

TSS Volume::GetFileTime(int camera, int64_t fileId, const std::string& hourFolder) const {
    const std::string path = GetFilePath(camera, fileId, hourFolder, kVideoLetter);
    uint64_t unixMs = 0;
    int error = 0;
    TSS result{};
    if (!GetFileCreationUnixMs(path, unixMs, error)) {
        QOR_LOG_ERROR(Log(), "[FS] Failed to get FileTime TSS for '%s', error code %d, %s.", path.c_str(), error,
                      GetSystemErrorMessage(error).c_str());
        return result;
    }
    result.FromUtcMilliseconds(unixMs + kArchiveUnixOffsetMs);
    return result;
}
