#include "base/Thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/Log.h"

namespace {

constexpr std::size_t kMinStackSize = 1u << 20;
constexpr int kForcedStopPasses = 1000;  // of 10 ms each

std::atomic<unsigned> g_forcedStopPasses{kForcedStopPasses};
std::atomic<unsigned> g_orphanedExits{0};

// UTF-8 text cut to at most maxBytes without splitting a character.
std::string CutUtf8(const char* text, std::size_t maxBytes) {
    std::size_t n = std::strlen(text);
    if (n <= maxBytes) return std::string(text, n);
    n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text, n);
}

int NiceOf(int priority) {
    if (priority <= Thread::PriorityIdle) return 19;
    if (priority >= Thread::PriorityTimeCritical) return -20;
    switch (priority) {
    case Thread::PriorityLowest: return 10;
    case Thread::PriorityBelowNormal: return 5;
    case Thread::PriorityAboveNormal: return -5;
    case Thread::PriorityHighest: return -10;
    default: return priority < 0 ? 10 : priority > 0 ? -10 : 0;
    }
}

}  // namespace

// State shared by a Thread object and the system thread running it. It
// outlives the object when the thread has been abandoned by a forced stop.
struct Thread::Control {
    std::mutex m;
    std::condition_variable cv;
    Thread* owner = nullptr;
    std::uint32_t tid = 0;     // set by the new thread before anything else
    bool gateOpen = true;      // false while held at the start gate
    bool finished = false;     // the thread no longer touches the object
    bool orphaned = false;     // abandoned by a forced stop
};

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(::gettid()); }

void SetThreadName(std::uint32_t threadId, const char* name) {
    if (threadId == 0 || !name || !*name) return;
    std::string cut = CutUtf8(name, 15);
    if (threadId == CurrentThreadId()) {
        pthread_setname_np(pthread_self(), cut.c_str());
        return;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%u/comm", threadId);
    if (FILE* f = std::fopen(path, "w")) {
        std::fputs(cut.c_str(), f);
        std::fclose(f);
    }
}

Thread::Thread() {
    // Every worker starts with the base class's type name until Start names it.
    std::snprintf(m_name, sizeof m_name, "%s", "class Thread");
}

Thread::~Thread() {
    Stop(false);
    SyncLock lock(m_handleLock);
    m_control.reset();
}

void Thread::Delete() { delete this; }

std::shared_ptr<Thread::Control> Thread::CurrentControl() const {
    SyncLock lock(m_handleLock);
    return m_control;
}

bool Thread::IsRunning() const { return CurrentControl() != nullptr; }

bool Thread::Start(unsigned flags, unsigned stackSize, const char* name) {
    SyncLock lock(m_handleLock);
    // One thread per object; a running thread keeps its name and any stop
    // request already made.
    if (m_control) return false;
    if (name && *name) std::snprintf(m_name, sizeof m_name, "%s", name);
    m_stop.store(0);
    auto control = std::make_shared<Control>();
    control->owner = this;
    control->gateOpen = (flags & kCreateSuspended) == 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    std::size_t stack = stackSize ? stackSize : kDefaultStackSize;
    pthread_attr_setstacksize(&attr, std::max(stack, kMinStackSize));
    auto* arg = new std::shared_ptr<Control>(control);
    pthread_t handle;
    int rc = pthread_create(&handle, &attr, &Thread::ThreadProc, arg);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete arg;
        m_createErrno = rc;
        m_createOsError = rc;
        return false;
    }
    m_control = control;
    std::unique_lock<std::mutex> cl(control->m);
    control->cv.wait(cl, [&] { return control->tid != 0; });
    m_threadId.store(control->tid);
    return true;
}

namespace {

// True while the thread may go on using its object.
bool Proceed(Thread::Control& c);

}  // namespace

void* Thread::ThreadProc(void* arg) {
    std::shared_ptr<Control> c = std::move(*static_cast<std::shared_ptr<Control>*>(arg));
    delete static_cast<std::shared_ptr<Control>*>(arg);
    Thread* self = c->owner;
    {
        std::unique_lock<std::mutex> lock(c->m);
        c->tid = CurrentThreadId();
        c->cv.notify_all();
        c->cv.wait(lock, [&] { return c->gateOpen; });
    }

    bool abandoned = false;
    if (self->m_name[0]) SetThreadName(c->tid, self->m_name);
    self->OnStart();
    while (true) {
        if (!Proceed(*c)) {
            abandoned = true;
            break;
        }
        if (self->m_stop.load() != 0) break;
        if (!self->Run()) break;
        if (!Proceed(*c)) {
            abandoned = true;
            break;
        }
        self->AfterRun();
    }
    if (!abandoned && Proceed(*c)) {
        self->OnStop();
        if (Proceed(*c)) {
            self->m_objectLock.Lock();
            bool autoDelete = self->m_autoDelete.load() != 0;
            self->m_objectLock.Unlock();
            if (autoDelete) {
                self->Delete();  // its Stop sees the caller is this thread
            } else {
                SyncLock lock(self->m_handleLock);
                if (self->m_control == c) self->m_control.reset();
            }
        } else {
            abandoned = true;
        }
    } else {
        abandoned = true;
    }
    if (abandoned) g_orphanedExits.fetch_add(1);
    std::lock_guard<std::mutex> lock(c->m);
    c->finished = true;
    c->cv.notify_all();
    return nullptr;
}

namespace {

bool Proceed(Thread::Control& c) {
    std::lock_guard<std::mutex> lock(c.m);
    return !c.orphaned;
}

}  // namespace

bool Thread::Stop(bool forced) {
    std::shared_ptr<Control> c = CurrentControl();
    if (!c) return false;
    m_stop.fetch_add(1);
    // Open the start gate of this very thread (it may end meanwhile: the
    // shared control stays valid, so there is no failure to report here).
    {
        std::lock_guard<std::mutex> lock(c->m);
        c->gateOpen = true;
        c->cv.notify_all();
    }
    if (c->tid != CurrentThreadId()) WaitForExit(forced);
    return true;
}

void Thread::WaitForExit(bool forced) {
    std::shared_ptr<Control> c = CurrentControl();
    if (!c || c->tid == CurrentThreadId()) return;
    const std::uint32_t tid = c->tid;
    if (!forced) {
        std::unique_lock<std::mutex> lock(c->m);
        int steps = 0;
        while (!c->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return c->finished; })) {
            ++steps;
            if (steps % 100 == 0) {
                lock.unlock();
                getDefaultDebugInstance()->Warning("Thread (%04u) is not stopped (possible deadlock), attempt=%d",
                                                   tid, steps);
                lock.lock();
            }
        }
        return;
    }
    const unsigned passes = g_forcedStopPasses.load();
    // Only the shared control is looked at while waiting: an auto-delete
    // thread may destroy the object meanwhile.
    for (unsigned pass = 0; pass < passes; ++pass) {
        std::unique_lock<std::mutex> lock(c->m);
        if (c->cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return c->finished; })) return;
    }
    {
        std::lock_guard<std::mutex> lock(c->m);
        if (c->finished) return;
        c->orphaned = true;  // it cannot be killed: abandon it
    }
    QOR_LOG_ERROR(getDefaultDebugInstance(), "Abnormal thread (%04u) termination by thread %04u", tid,
                  CurrentThreadId());
    SyncLock lock(m_handleLock);
    if (m_control == c) m_control.reset();
}

int Thread::Resume() {
    std::shared_ptr<Control> c = CurrentControl();
    if (!c) {
        errno = EBADF;
        return -1;
    }
    std::lock_guard<std::mutex> lock(c->m);
    if (c->gateOpen) return 0;
    c->gateOpen = true;
    c->cv.notify_all();
    return 1;
}

bool Thread::SetPriority(int priority) {
    std::shared_ptr<Control> c = CurrentControl();
    if (!c) return false;
    // Best effort: a raise above the process's limit is refused by the
    // system and the thread keeps its priority.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(c->tid), NiceOf(priority));
    return true;
}

void Thread::SetForcedStopPassesForTesting(unsigned passes) { g_forcedStopPasses.store(passes ? passes : kForcedStopPasses); }

unsigned Thread::AbandonedExitsForTesting() { return g_orphanedExits.load(); }
