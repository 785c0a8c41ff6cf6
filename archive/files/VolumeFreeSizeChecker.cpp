#include "archive/files/VolumeFreeSizeChecker.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "base/Log.h"
#include "base/Registry.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

std::mutex g_instanceLock;
std::shared_ptr<VolumeFreeSizeChecker> g_instance;

// /proc/self/mounts writes blanks and a few other characters as \ooo.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string oct = field.substr(i + 1, 3);
            if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(std::stoi(oct, nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

bool MountPointHolds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return !path.empty() && path[0] == '/';
    if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string Absolute(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string out = real;
    ::free(real);
    return out;
}

// The text of /proc/self/mounts, read again only after the kernel reports a
// change of the mount table (poll on the open file), since the recorder asks
// for every frame it writes.
std::string MountTable() {
    static std::mutex lock;
    static int fd = -1;
    static std::string text;
    std::lock_guard<std::mutex> guard(lock);
    bool reread = fd < 0;
    if (fd < 0) fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    if (!reread) {
        pollfd changed{fd, POLLPRI, 0};
        reread = ::poll(&changed, 1, 0) > 0 && (changed.revents & (POLLPRI | POLLERR)) != 0;
    }
    if (reread) {
        std::string fresh;
        char buffer[16384];
        ssize_t got;
        ::lseek(fd, 0, SEEK_SET);
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0) fresh.append(buffer, static_cast<size_t>(got));
        text = std::move(fresh);
    }
    return text;
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsRegular(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// `device` is a device folder of the sysfs tree (links resolved).
bool DeviceFolderIsRemovable(const std::string& device, int depth) {
    if (depth > 8 || device.empty()) return false;
    if (IsRegular(device + "/partition")) {
        const size_t slash = device.rfind('/');
        return slash != std::string::npos && DeviceFolderIsRemovable(device.substr(0, slash), depth + 1);
    }
    if (ReadFirstLine(device + "/removable") == "1") return true;
    const std::string slaves = device + "/slaves";
    if (DIR* dir = ::opendir(slaves.c_str())) {
        bool removable = false;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            if (DeviceFolderIsRemovable(Absolute(slaves + "/" + entry->d_name), depth + 1)) {
                removable = true;
                break;
            }
        }
        ::closedir(dir);
        return removable;
    }
    return false;
}

}  // namespace

bool IsRemovableBlockDevice(const std::string& sysRoot, unsigned major, unsigned minor) {
    const std::string link = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    struct stat st;
    if (::stat(link.c_str(), &st) != 0) return false;
    return DeviceFolderIsRemovable(Absolute(link), 0);
}

bool IsNetworkFileSystemType(const std::string& fsType) {
    static const char* const kNetwork[] = {"nfs",        "nfs4",  "cifs",      "smb3",   "smbfs",
                                           "sshfs",      "fuse.sshfs", "ncpfs", "afs",   "9p",
                                           "ceph",       "glusterfs",  "fuse.glusterfs", "lustre", "davfs",
                                           "fuse.davfs2", "fuse.rclone", "fuse.s3fs"};
    for (const char* type : kNetwork)
        if (fsType == type) return true;
    return false;
}

std::string FileSystemTypeOf(const std::string& path, const std::string& mountTable) {
    std::istringstream lines(mountTable);
    std::string line, best, bestType;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        mountPoint = UnescapeMountField(mountPoint);
        // Later lines shadow earlier mounts on the same point.
        if (MountPointHolds(mountPoint, path) && mountPoint.size() >= best.size()) {
            best = mountPoint;
            bestType = type;
        }
    }
    return bestType;
}

DriveType GetDriveType(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return DriveType::NoRootDir;
    const std::string table = MountTable();
    if (IsNetworkFileSystemType(FileSystemTypeOf(Absolute(path), table))) return DriveType::Network;
    // The recorder asks for every frame it writes: the sysfs walk is made once
    // per device for as long as the mount table stays the same.
    static std::mutex lock;
    static std::string cachedTable;
    static std::map<dev_t, bool> removable;
    std::lock_guard<std::mutex> guard(lock);
    if (table != cachedTable) {
        cachedTable = table;
        removable.clear();
    }
    auto found = removable.find(st.st_dev);
    if (found == removable.end())
        found = removable.emplace(st.st_dev, IsRemovableBlockDevice("/sys", major(st.st_dev), minor(st.st_dev))).first;
    return found->second ? DriveType::Removable : DriveType::Fixed;
}

VolumeFreeSizeChecker::VolumeFreeSizeChecker(int delayMs) {
    if (delayMs < 0) {
        RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video");
        delayMs = key.ReadInt("VolumeFreeSizeCheckerDelay", 100);
    }
    m_delay = delayMs;
    Log()->Message("[FILESYSTEM] VolumeFreeSizeCheckerDelay = %d ms", m_delay);
    Start(0, 0, "VolumeFreeSizeChecker");
}

VolumeFreeSizeChecker::~VolumeFreeSizeChecker() {
    {
        std::lock_guard<std::mutex> lock(m_sleepLock);
        m_stopping = true;
    }
    m_sleepWake.notify_all();
    Stop(true);
}

std::shared_ptr<VolumeFreeSizeChecker> VolumeFreeSizeChecker::GetInstance() {
    std::lock_guard<std::mutex> lock(g_instanceLock);
    if (!g_instance) g_instance = std::make_shared<VolumeFreeSizeChecker>();
    return g_instance;
}

void SetVolumeFreeSizeChecker(std::shared_ptr<VolumeFreeSizeChecker> checker) {
    std::shared_ptr<VolumeFreeSizeChecker> previous;
    {
        std::lock_guard<std::mutex> lock(g_instanceLock);
        previous = std::move(g_instance);
        g_instance = std::move(checker);
    }
    // The previous checker stops (if this was its last holder) outside the lock.
}

void VolumeFreeSizeChecker::Subscribe(SubscriberKey key, Callback callback) {
    SyncLock lock(m_lock);
    m_subscribers[key] = std::move(callback);
}

void VolumeFreeSizeChecker::Unsubscribe(SubscriberKey key) {
    std::lock_guard<std::recursive_mutex> calls(m_notifyLock);
    SyncLock lock(m_lock);
    m_subscribers.erase(key);
}

size_t VolumeFreeSizeChecker::GetSubscriberCount() const {
    SyncLock lock(m_lock);
    return m_subscribers.size();
}

void VolumeFreeSizeChecker::notify(const std::string& path, bool mounted) {
    std::lock_guard<std::recursive_mutex> calls(m_notifyLock);
    std::vector<Callback> callbacks;
    {
        SyncLock lock(m_lock);
        for (const auto& subscriber : m_subscribers)
            if (subscriber.second) callbacks.push_back(subscriber.second);
    }
    for (const auto& callback : callbacks) callback(path, mounted);
}

bool VolumeFreeSizeChecker::UpdateFreeSpace(const std::string& path, bool notifyChange) {
    struct statvfs st;
    bool mounted = true;
    int32_t freeMB = 0;
    if (::statvfs(path.c_str(), &st) == 0) {
        freeMB = static_cast<int32_t>((static_cast<uint64_t>(st.f_bavail) * st.f_frsize) >> 20);
    } else {
        const int error = errno;
        QOR_LOG_ERROR(Log(), "[FS] Could not determine disk free space, DISK=%s, error code= %d", path.c_str(), error);
        mounted = false;
    }
    bool report = false;
    {
        SyncLock lock(m_lock);
        m_freeSpace[path] = freeMB;
        auto known = m_mounted.find(path);
        if (known == m_mounted.end()) {
            m_mounted.emplace(path, mounted);
            report = !mounted && notifyChange;
        } else {
            report = known->second != mounted && notifyChange;
            known->second = mounted;
        }
    }
    if (report) notify(path, mounted);
    return mounted;
}

int VolumeFreeSizeChecker::GetFreeMB(const std::string& path) const {
    SyncLock lock(m_lock);
    auto it = m_freeSpace.find(path);
    return it == m_freeSpace.end() ? 0 : it->second;
}

bool VolumeFreeSizeChecker::IsMounted(const std::string& path) const {
    const DriveType type = GetDriveType(path);
    if (type == DriveType::Network || type == DriveType::NoRootDir) {
        SyncLock lock(m_lock);
        auto it = m_mounted.find(path);
        return it == m_mounted.end() ? true : it->second;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        QOR_LOG_ERROR(Log(), "[VolumeFreeSizeChecker][IsMounted] Failed to update record-drive \"%s\" state. Error code: %d.",
                      path.c_str(), errno);
        return false;
    }
    return true;
}

bool VolumeFreeSizeChecker::Run() {
    std::vector<std::string> paths;
    {
        SyncLock lock(m_lock);
        for (const auto& entry : m_freeSpace) paths.push_back(entry.first);
    }
    if (paths.empty()) return true;
    if (!m_pool || m_pool->size() < paths.size()) {
        m_pool.reset();
        m_pool = std::make_unique<thread_pool>(paths.size());
    }
    for (const auto& path : paths) m_pool->post([this, path] { UpdateFreeSpace(path, true); });
    m_pool->wait();
    return true;
}

void VolumeFreeSizeChecker::AfterRun() {
    std::unique_lock<std::mutex> lock(m_sleepLock);
    m_sleepWake.wait_for(lock, std::chrono::milliseconds(m_delay), [this] { return m_stopping; });
}
