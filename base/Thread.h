// Base class of the long-running worker threads.
//
// A subclass supplies one work step, Run(); the base class calls it in a loop
// on a thread of its own until Run returns false or a stop is requested (the
// request is tested before each pass, so a pass in progress always finishes).
//
// Lifecycle: Start (running, or held at a start gate with kCreateSuspended
// until Resume or Stop) -> passes of Run/AfterRun -> OnStop -> the thread
// either deletes its object (auto-delete) or marks itself gone; Start may be
// called again afterwards.
//
// Subclasses must stop the thread in their own destructor: by the time the
// base destructor runs, the subclass part (and its Run) is gone.
//
// Forced stop: a thread that has not ended within about 10 seconds of a
// forced Stop is logged at error level and abandoned (it cannot be killed
// here). From then on the base class does not touch the object again from that
// thread: when its current Run returns, the thread leaves at once without
// AfterRun, OnStop or Delete. The object may then be destroyed; the subclass
// must make sure its stuck Run does not use the object after that (this is
// what the forced stop trades for not hanging its caller).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/Locks.h"

// Gives the thread with the given system thread id (a Linux tid) a name that
// debuggers and `ps -L` show, cut to the 15 bytes Linux keeps. Nothing when
// the id is 0 or the name empty.
void SetThreadName(std::uint32_t threadId, const char* name);
// System thread id of the calling thread.
std::uint32_t CurrentThreadId();

class Thread {
public:
    static constexpr unsigned kCreateSuspended = 4;
    static constexpr unsigned kDefaultStackSize = 262144;
    // Priorities, the system's values. SetPriority applies them as a nice
    // value of the thread, best effort: a raise the process may not make is
    // left out (the call still succeeds).
    enum Priority : int {
        PriorityIdle = -15,
        PriorityLowest = -2,
        PriorityBelowNormal = -1,
        PriorityNormal = 0,
        PriorityAboveNormal = 1,
        PriorityHighest = 2,
        PriorityTimeCritical = 15,
    };

    Thread();
    // Stops the thread without forcing (waits without limit unless called on
    // the thread itself).
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Deletes the object; called by the thread itself at its end when
    // auto-delete is set.
    virtual void Delete();
    // One pass of work; false ends the loop.
    virtual bool Run() = 0;
    // After every Run that returned true.
    virtual void AfterRun() {}
    // Once on the new thread before the loop / after it.
    virtual void OnStart() {}
    virtual void OnStop() {}

    // Creates the thread. flags: kCreateSuspended holds it until Resume or
    // Stop; stackSize 0 means kDefaultStackSize (sizes are raised to at least
    // 1 MiB, which the same code needs here); a non-empty name (up to 63
    // characters) replaces the object's name. False when no thread could be
    // created (the error numbers are kept).
    bool Start(unsigned flags = 0, unsigned stackSize = 0, const char* name = nullptr);
    // False when there is no thread; else requests the stop, releases a
    // suspended thread and, unless called on the thread itself, waits for its
    // end (forced: at most about 10 s, then the thread is abandoned).
    bool Stop(bool forced = false);
    void WaitForExit(bool forced);
    // 1 when this released a thread started suspended, 0 when it was already
    // running, -1 when there is no thread.
    int Resume();
    // False when there is no thread.
    bool SetPriority(int priority);

    // A thread exists (started and not yet ended).
    bool IsRunning() const;
    std::uint32_t GetThreadId() const { return m_threadId.load(); }
    const char* GetName() const { return m_name; }
    void SetAutoDelete(bool autoDelete) { m_autoDelete = autoDelete ? 1 : 0; }
    bool StopRequested() const { return m_stop.load() != 0; }
    int GetCreateErrno() const { return m_createErrno; }

    // Test seams: the number of 10 ms waits of a forced stop (0 restores
    // the normal 1000), and how many abandoned threads have left so far.
    static void SetForcedStopPassesForTesting(unsigned passes);
    static unsigned AbandonedExitsForTesting();

    struct Control;  // shared by the object and its thread

protected:
    qormisc::CriticalSection m_objectLock;  // guards the auto-delete decision
    std::atomic<std::uint32_t> m_threadId{0};
    std::atomic<std::int32_t> m_stop{0};
    std::atomic<std::int32_t> m_autoDelete{0};

private:
    static void* ThreadProc(void* arg);
    std::shared_ptr<Control> CurrentControl() const;

    mutable qormisc::CriticalSection m_handleLock;  // guards m_control
    std::shared_ptr<Control> m_control;             // null: no thread
    int m_createErrno = 0;
    int m_createOsError = 0;
    char m_name[64];
};
