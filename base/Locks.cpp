#include "base/Locks.h"

#include <cerrno>
#include <ctime>

namespace qormisc {

SyncObject::~SyncObject() = default;
int SyncObject::Lock() { return LockSignalled; }
bool SyncObject::Unlock() { return true; }

CriticalSection::~CriticalSection() = default;

int CriticalSection::Lock() {
    m_mutex.lock();
    return LockSignalled;
}

bool CriticalSection::Unlock() {
    m_mutex.unlock();
    return true;
}

Mutex::Mutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

Mutex::~Mutex() { pthread_mutex_destroy(&m_mutex); }

int Mutex::AfterTake(int rc) {
    switch (rc) {
    case 0:
        return LockSignalled;
    case EOWNERDEAD:
        // The owner ended holding it: we own it now; make it usable again.
        pthread_mutex_consistent(&m_mutex);
        return LockAbandoned;
    case ETIMEDOUT:
        return LockTimeout;
    default:
        return LockFailed;
    }
}

int Mutex::Lock() { return AfterTake(pthread_mutex_lock(&m_mutex)); }

int Mutex::LockFor(unsigned timeoutMs) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int rc;
    do {
        rc = pthread_mutex_clocklock(&m_mutex, CLOCK_MONOTONIC, &deadline);
    } while (rc == EINTR);
    return AfterTake(rc);
}

bool Mutex::Unlock() { return pthread_mutex_unlock(&m_mutex) == 0; }

}  // namespace qormisc

SyncLock::SyncLock(qormisc::SyncObject* object) : m_object(object), m_locked(false) {
    if (m_object) {
        m_object->Lock();
        m_locked = true;
    }
}

void SyncLock::Unlock() {
    if (m_locked) {
        m_locked = false;
        m_object->Unlock();
    }
}
