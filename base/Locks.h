// The base library's locks.
//
// qormisc::SyncObject is the lock interface every component's guard goes
// through; qormisc::CriticalSection (recursive, untimed) is the lock used
// nearly everywhere, qormisc::Mutex (recursive, with a timed take and an
// "abandoned" result) the one for owners that must not wait forever.
// SyncLock is the scoped guard over either.
#pragma once

#include <pthread.h>

#include <mutex>

namespace qormisc {

// Results of Mutex::Lock and Mutex::LockFor (the values of the system's wait
// results, which some callers log).
enum LockResult : int {
    LockSignalled = 0x00000000,  // taken
    LockAbandoned = 0x00000080,  // taken; the previous owner ended holding it
    LockTimeout = 0x00000102,    // not taken
    LockFailed = -1,             // not taken
};

// Lock interface. In the base class both operations do nothing.
class SyncObject {
public:
    SyncObject() = default;
    SyncObject(const SyncObject&) = delete;
    SyncObject& operator=(const SyncObject&) = delete;
    virtual ~SyncObject();
    // Blocks until the lock is held; returns a LockResult.
    virtual int Lock();
    // Returns whether the release succeeded.
    virtual bool Unlock();
};

// In-process recursive lock: the owner may lock again and must unlock as many
// times.
class CriticalSection : public SyncObject {
public:
    CriticalSection() = default;
    ~CriticalSection() override;
    int Lock() override;
    bool Unlock() override;
    void Enter() { m_mutex.lock(); }
    void Leave() { m_mutex.unlock(); }
    bool TryEnter() { return m_mutex.try_lock(); }

private:
    std::recursive_mutex m_mutex;
};

// Recursive mutex that survives its owner: when a thread ends while holding
// it, the next taker gets LockAbandoned and owns it (a robust pthread mutex).
// Unlock by a thread that does not own it fails and returns false.
class Mutex : public SyncObject {
public:
    Mutex();
    ~Mutex() override;
    int Lock() override;
    bool Unlock() override;
    // Takes the mutex waiting at most timeoutMs milliseconds: LockSignalled,
    // LockAbandoned or LockTimeout. Release with Unlock.
    int LockFor(unsigned timeoutMs);

private:
    int AfterTake(int rc);
    pthread_mutex_t m_mutex;
};

}  // namespace qormisc

// Scoped lock: locks on construction, unlocks once, either at Unlock() or in
// the destructor, whichever comes first. A null object is allowed (nothing is
// locked).
class SyncLock {
public:
    explicit SyncLock(qormisc::SyncObject* object);
    explicit SyncLock(qormisc::SyncObject& object) : SyncLock(&object) {}
    SyncLock(const SyncLock&) = delete;
    SyncLock& operator=(const SyncLock&) = delete;
    ~SyncLock() { Unlock(); }

    // Early release; later calls and the destructor do nothing.
    void Unlock();
    bool IsLocked() const { return m_locked; }

private:
    qormisc::SyncObject* m_object;
    bool m_locked;
};
