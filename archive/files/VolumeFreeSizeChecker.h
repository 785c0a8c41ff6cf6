#pragma once
// The process-wide watcher of archive volume paths: their free space and
// whether they can be reached. Measuring a network share or a removable
// drive can block for a long time, so after a volume's first measurement the
// archive code only reads the last figures kept here; the checker's thread
// re-measures every known path in parallel (one pool job per path), sleeps
// for VolumeFreeSizeCheckerDelay ms and starts again. Archive engines
// subscribe to hear when a path's reachability changes.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/Locks.h"
#include "base/Thread.h"
#include "base/ThreadPool.h"

// What kind of drive a path lies on, from the mount table.
enum class DriveType {
    NoRootDir,  // the path does not exist
    Fixed,      // a local file system
    Network,    // nfs, cifs/smb, sshfs and the like
    Removable,  // on a block device the kernel marks removable (USB sticks, cards)
};

// Whether a file-system type of the mount table is a network one.
bool IsNetworkFileSystemType(const std::string& fsType);
// The type of the file system mounted at the longest mount point that holds
// `path`, from text in the form of /proc/self/mounts; "" when none.
std::string FileSystemTypeOf(const std::string& path, const std::string& mountTable);
// Whether the block device with this device number is removable, as the
// sysfs tree below `sysRoot` ("/sys" on a running system) says: a partition
// is what its disk is, a device-mapper device (LVM, encryption) is removable
// when any device below it is.
bool IsRemovableBlockDevice(const std::string& sysRoot, unsigned major, unsigned minor);
// NoRootDir for a path that does not exist, Network for a path on a network
// file system (per /proc/self/mounts), Removable for a path on a removable
// block device, Fixed otherwise.
DriveType GetDriveType(const std::string& path);

class VolumeFreeSizeChecker : public Thread {
public:
    using Callback = std::function<void(const std::string& path, bool mounted)>;
    using SubscriberKey = const void*;

    // Starts the thread "VolumeFreeSizeChecker". delayMs < 0 reads
    // VolumeFreeSizeCheckerDelay (default 100) from SOFTWARE\QOR\Vindara\Video.
    explicit VolumeFreeSizeChecker(int delayMs = -1);
    ~VolumeFreeSizeChecker() override;

    // The process's checker, created on first use.
    static std::shared_ptr<VolumeFreeSizeChecker> GetInstance();

    // Adds or replaces the subscriber's callback. The callback is called with
    // (path, mounted) on a checker thread when a periodic measurement finds a
    // path's state changed (or a first measurement finds it unreachable);
    // the checker's lock is not held, so it may call back into the checker.
    // It must not block for long.
    void Subscribe(SubscriberKey key, Callback callback);
    // Removes the subscriber. When it returns, no call of the subscriber's
    // callback is running or will start (unless called from inside that
    // callback, which is allowed).
    void Unsubscribe(SubscriberKey key);

    // Measures the path now in the caller's thread; true when it could be
    // measured. notify: tell the subscribers about a changed state.
    bool UpdateFreeSpace(const std::string& path, bool notify);
    // Last free MB of the path; 0 when never measured or the measurement failed.
    int GetFreeMB(const std::string& path) const;
    // Network and missing paths: the last measured state (true when never
    // measured). Other paths: whether the path exists now.
    bool IsMounted(const std::string& path) const;

    int GetDelay() const { return m_delay; }
    size_t GetSubscriberCount() const;

protected:
    bool Run() override;
    void AfterRun() override;

private:
    void notify(const std::string& path, bool mounted);

    mutable qormisc::CriticalSection m_lock;  // guards the three maps
    std::map<std::string, int32_t> m_freeSpace;
    std::unique_ptr<thread_pool> m_pool;
    int32_t m_delay = 100;
    std::map<std::string, bool> m_mounted;
    std::map<SubscriberKey, Callback> m_subscribers;

    // Serialises the calls of the subscribers and lets Unsubscribe wait for
    // a running call; taken before m_lock, never inside it.
    std::recursive_mutex m_notifyLock;
    std::mutex m_sleepLock;
    std::condition_variable m_sleepWake;
    bool m_stopping = false;
};

// Replaces the process's checker (the previous one is released).
void SetVolumeFreeSizeChecker(std::shared_ptr<VolumeFreeSizeChecker> checker);
