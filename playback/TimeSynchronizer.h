#pragma once
// Keeps the channels of one playback in step. Each source pin is one client;
// before presenting a frame it reports the frame's time and the next one's,
// and the synchronizer makes it wait for the other pins and then sleep on
// the shared clock until the frame is due. Client 0 is the master: only its
// pause, resume and reset move the common time line.
//
// The order is one of presentation, not of decoding: a pin decodes its frame
// before it reports, every client whose turn has come is woken at once (not
// one per report), and a client more than kLateMs behind the clock holds
// nobody back, so the pins decode side by side and a slow one cannot stall
// the rest. The time line follows the clock: only the first frame past the
// start after a reset or resume of the master may set it back (to absorb the
// start's decoding); a frame that comes late after that is presented at
// once, and its pin skips frames to catch up.

// Times exchanged with clients are relative to the start position (source
// time of relative time 0).
//
// Lock order: the synchronizer lock, then a client's mutex or the clock's
// lock. A client never waits for its turn or on the clock holding the
// synchronizer lock.

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace utils {
class IWaitableClock;
}

namespace filters {

class TimeSynchronizer {
public:
    // Under ordered pacing a client this far behind the clock holds no other
    // client back.
    static constexpr int64_t kLateMs = 40;
    // A client waiting for its turn looks again this often, since a client
    // that falls behind the clock reports nothing.
    static constexpr std::chrono::milliseconds kLookAgain{10};

    struct Client {
        std::atomic<int64_t> currentTime{0};
        std::atomic<int64_t> nextTime{0};
        std::atomic<bool> finished{false};
        int32_t index = 0;
        std::atomic<bool> paused{true};
        std::mutex lock;  // guards paused (writes) and waiting
        std::condition_variable cond;
        bool waiting = false;
        bool fastWait = false;  // the wait is one of fast-play pacing
    };

    // An empty clock gets a WaitableClock over a new Clock.
    explicit TimeSynchronizer(std::shared_ptr<utils::IWaitableClock> clock = nullptr);

    // Runs while the players are built, before any pin thread uses it.
    int CreateClient();
    void Reset(int index, int64_t startPosition);
    void Pause(int index);
    void Resume(int index);
    void SetClientFinished(int index);
    // Fast-play pacing; returns when the frame is due.
    void SetClientTime(int index, int64_t current, int64_t next, bool finished);
    // Ordered pacing; returns when the frame is due.
    void WaitClientTime(int index, int64_t current, int64_t next, bool finished);
    // Relative play time of the client.
    int64_t GetClientTime(int index);
    // Relative time of the clock on the client's time line, not held back by
    // frames still to come (what is due now).
    int64_t GetPlayTime(int index);
    // The time line has been set to its first frame past the start since the
    // last reset or resume of the master; from then on a late frame does not
    // move it.
    bool IsAnchored() const { return m_anchored.load(); }

    bool IsClientPaused(int index) const;
    int64_t GetStartPosition() const { return m_startPosition.load(); }
    int64_t GetReferenceTime() const { return m_referenceTime.load(); }
    const std::shared_ptr<utils::IWaitableClock>& GetClock() const { return m_clock; }
    size_t ClientCount() const { return m_clients.size(); }
    // The time line and every client's times and flags, for logs.
    std::string Describe();

private:
    Client* At(int index) const;
    void Wake(Client& c);
    // Sleeps until woken, unless the client is paused or finished.
    void WaitTurn(Client& c);
    // The same, for at most `limit`.
    void WaitTurn(Client& c, std::chrono::milliseconds limit);
    void WakeWaitingClients(int index);
    // The unpaused, unfinished client with the smallest current time; with
    // `self`, clients other than it whose time is before `lateBefore` (late
    // ones) do not count.
    Client* EarliestClient(const Client* self = nullptr, int64_t lateBefore = INT64_MIN) const;
    // Wakes every other client whose turn may have come: those at the
    // smallest current time (ties go together, not one per report).
    void WakeDueTurns(const Client& self);
    // Wakes the clients that must look again at changed times: every client
    // waiting under fast-play pacing and those whose turn may have come.
    void WakeWaitersToLookAgain(const Client& self);
    int64_t NowLocked(const Client& c) const;

    std::shared_ptr<utils::IWaitableClock> m_clock;
    std::atomic<int64_t> m_baseTime{0};
    std::atomic<int64_t> m_pauseTime{0};
    std::atomic<int64_t> m_referenceTime{0};
    std::atomic<int64_t> m_startPosition{0};
    std::vector<std::shared_ptr<Client>> m_clients;
    std::recursive_mutex m_lock;
    std::atomic<bool> m_ordered{false};
    std::atomic<bool> m_anchored{false};
};

}  // namespace filters
