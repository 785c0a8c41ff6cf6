#include "base/Locks.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace {

// Counts calls through the interface.
class CountingLock : public qormisc::SyncObject {
public:
    int Lock() override {
        ++locks;
        return qormisc::LockSignalled;
    }
    bool Unlock() override {
        ++unlocks;
        return true;
    }
    int locks = 0, unlocks = 0;
};

TEST(SyncLock, UnlocksExactlyOnce) {
    CountingLock lock;
    {
        SyncLock guard(lock);
        EXPECT_TRUE(guard.IsLocked());
        EXPECT_EQ(lock.locks, 1);
        guard.Unlock();
        EXPECT_FALSE(guard.IsLocked());
        guard.Unlock();
        EXPECT_EQ(lock.unlocks, 1);
    }
    EXPECT_EQ(lock.unlocks, 1);  // the destructor after an early release does nothing
    { SyncLock guard(&lock); }
    EXPECT_EQ(lock.locks, 2);
    EXPECT_EQ(lock.unlocks, 2);
    { SyncLock nothing(nullptr); }
}

TEST(SyncObject, BaseOperationsDoNothing) {
    qormisc::SyncObject base;
    EXPECT_EQ(base.Lock(), qormisc::LockSignalled);
    EXPECT_EQ(base.Lock(), qormisc::LockSignalled);  // never blocks
    EXPECT_TRUE(base.Unlock());
}

// The owner takes a recursive lock twice; another thread gets it only after
// both releases.
template <class Lock>
void ExpectRecursive(Lock& lock) {
    ASSERT_EQ(lock.Lock(), qormisc::LockSignalled);
    ASSERT_EQ(lock.Lock(), qormisc::LockSignalled);
    std::atomic<bool> acquired{false};
    std::promise<void> started;
    std::thread other([&] {
        started.set_value();
        SyncLock guard(lock);
        acquired = true;
    });
    started.get_future().wait();
    lock.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // give it a chance to (wrongly) get in
    EXPECT_FALSE(acquired.load());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
}

TEST(CriticalSection, IsRecursive) {
    qormisc::CriticalSection cs;
    ExpectRecursive(cs);
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());
    cs.Leave();
    cs.Leave();
}

TEST(Mutex, IsRecursiveAndOnlyTheOwnerReleasesIt) {
    qormisc::Mutex m;
    ExpectRecursive(m);
    m.Lock();
    bool released = true;
    std::thread([&] { released = m.Unlock(); }).join();
    EXPECT_FALSE(released);
    EXPECT_TRUE(m.Unlock());
    EXPECT_FALSE(m.Unlock());  // not held any more
}

TEST(Mutex, TimedTakeTimesOutWhileAnotherThreadHoldsIt) {
    qormisc::Mutex m;
    std::promise<void> held, release;
    std::thread owner([&] {
        m.Lock();
        held.set_value();
        release.get_future().wait();
        m.Unlock();
    });
    held.get_future().wait();
    EXPECT_EQ(m.LockFor(50), qormisc::LockTimeout);
    release.set_value();
    EXPECT_EQ(m.LockFor(10000), qormisc::LockSignalled);
    EXPECT_TRUE(m.Unlock());
    owner.join();
}

TEST(Mutex, AbandonedByAThreadThatEndedHoldingIt) {
    qormisc::Mutex m;
    std::thread([&] { m.Lock(); }).join();  // ends without releasing
    EXPECT_EQ(m.Lock(), qormisc::LockAbandoned);
    // The caller owns it and can use it normally afterwards.
    EXPECT_TRUE(m.Unlock());
    EXPECT_EQ(m.LockFor(100), qormisc::LockSignalled);
    EXPECT_TRUE(m.Unlock());

    std::thread([&] { m.Lock(); }).join();
    EXPECT_EQ(m.LockFor(1000), qormisc::LockAbandoned);  // also through the timed take
    m.Unlock();
}

}  // namespace
