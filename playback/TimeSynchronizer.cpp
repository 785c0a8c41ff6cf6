#include "playback/TimeSynchronizer.h"

#include <algorithm>

#include "playback/Clocks.h"

namespace filters {

TimeSynchronizer::TimeSynchronizer(std::shared_ptr<utils::IWaitableClock> clock)
    : m_clock(clock ? std::move(clock) : std::make_shared<utils::WaitableClock>()) {
    Reset(0, 0);
}

int TimeSynchronizer::CreateClient() {
    auto c = std::make_shared<Client>();
    c->index = int32_t(m_clients.size());
    m_clients.push_back(c);
    return c->index;
}

TimeSynchronizer::Client* TimeSynchronizer::At(int index) const {
    if (index < 0 || size_t(index) >= m_clients.size()) return nullptr;
    return m_clients[size_t(index)].get();
}

bool TimeSynchronizer::IsClientPaused(int index) const {
    const Client* c = At(index);
    return !c || c->paused.load();
}

void TimeSynchronizer::Wake(Client& c) {
    std::lock_guard<std::mutex> lock(c.lock);
    c.waiting = false;
    c.cond.notify_all();
}

void TimeSynchronizer::WaitTurn(Client& c) {
    std::unique_lock<std::mutex> lock(c.lock);
    c.cond.wait(lock, [&] { return !c.waiting; });
}

void TimeSynchronizer::WaitTurn(Client& c, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(c.lock);
    c.cond.wait_for(lock, limit, [&] { return !c.waiting; });
    c.waiting = false;
}

void TimeSynchronizer::Reset(int index, int64_t startPosition) {
    if (index != 0) return;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_startPosition = startPosition;
    const int64_t now = m_clock->GetTime();
    m_baseTime = now;
    m_pauseTime = now;
    m_referenceTime = 0;
    m_ordered = false;
    m_anchored = false;
}

void TimeSynchronizer::Pause(int index) {
    Client* c = At(index);
    if (!c || c->paused) return;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (index == 0) {
        m_pauseTime = m_clock->GetTime();
        m_clock->SetWaitingEnabled(false);
        m_ordered = false;
    }
    {
        std::lock_guard<std::mutex> clientLock(c->lock);
        c->paused = true;
        c->waiting = false;
        c->cond.notify_all();
    }
    // Others may have been waiting for this client's turn.
    WakeWaitersToLookAgain(*c);
}

void TimeSynchronizer::Resume(int index) {
    Client* c = At(index);
    if (!c || !c->paused) return;
    if (index == 0) {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_clock->SetWaitingEnabled(true);
        m_baseTime += m_clock->GetTime() - m_pauseTime;
        m_referenceTime = 0;
        m_ordered = false;
        m_anchored = false;
    }
    std::lock_guard<std::mutex> lock(c->lock);
    c->paused = false;
    c->currentTime = 0;
    c->nextTime = 0;
    c->waiting = false;
    c->cond.notify_all();
}

void TimeSynchronizer::SetClientFinished(int index) {
    Client* c = At(index);
    if (!c) return;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (c->finished) return;
    c->finished = true;
    // A finished client never reports again, so nobody may keep waiting
    // for it to take its turn.
    for (auto& other : m_clients)
        if (other.get() != c) Wake(*other);
}

void TimeSynchronizer::WakeWaitingClients(int index) {
    const Client& self = *m_clients[size_t(index)];
    for (auto& other : m_clients) {
        if (other.get() == &self) continue;
        if (other->nextTime < m_referenceTime || other->currentTime <= self.nextTime) Wake(*other);
    }
}

int64_t TimeSynchronizer::NowLocked(const Client& c) const {
    return c.paused ? m_pauseTime.load() : m_clock->GetTime();
}

namespace {

// Raised under the synchronizer lock, so that a wake between the decision
// and the sleep is not lost. A paused or finished client never waits.
bool RaiseWaiting(TimeSynchronizer::Client& c, bool fast) {
    std::lock_guard<std::mutex> lock(c.lock);
    if (c.paused || c.finished) return false;
    c.waiting = true;
    c.fastWait = fast;
    return true;
}

// Wakes the client when it waits under fast-play pacing.
void WakeFastWaiter(TimeSynchronizer::Client& c) {
    std::lock_guard<std::mutex> lock(c.lock);
    if (!c.waiting || !c.fastWait) return;
    c.waiting = false;
    c.cond.notify_all();
}

}  // namespace

void TimeSynchronizer::SetClientTime(int index, int64_t current, int64_t next, bool finished) {
    Client* self = At(index);
    if (!self) return;
    m_ordered = false;
    {
        std::unique_lock<std::recursive_mutex> lock(m_lock);
        self->currentTime = current;
        self->nextTime = next;
        self->finished = finished;
        // This report may end the reason another client waits (it lagged,
        // it finished, the speed changed): the waiters look again.
        WakeWaitersToLookAgain(*self);
        // A client looks again each time it is woken, so that it never goes
        // on, nor keeps waiting, on times that have changed meanwhile.
        for (;;) {
            const int64_t reference = m_referenceTime;
            if (!(self->nextTime >= reference || self->finished)) break;
            bool lagging = false;
            for (auto& other : m_clients) {
                if (other.get() == self || other->finished || other->paused || other->nextTime == 0) continue;
                const int64_t n = other->nextTime;
                if (n < reference || (reference < current && n < current)) {
                    lagging = true;
                    break;
                }
            }
            if (!lagging) {
                const int64_t t = NowLocked(*self);
                m_referenceTime = std::max(reference, std::max<int64_t>(t - m_baseTime, 0));
                WakeWaitingClients(index);
                break;
            }
            if (!RaiseWaiting(*self, true)) break;
            lock.unlock();
            WaitTurn(*self);
            lock.lock();
        }
    }
    m_clock->WaitUntil(m_baseTime + current);
}

void TimeSynchronizer::WaitClientTime(int index, int64_t current, int64_t next, bool finished) {
    Client* self = At(index);
    if (!self) return;
    m_ordered = true;
    {
        std::unique_lock<std::recursive_mutex> lock(m_lock);
        self->currentTime = current;
        self->nextTime = next;
        self->finished = finished;
        WakeWaitersToLookAgain(*self);
        // Only the first frame of a run past its start sets the time line
        // back to itself (the start's decoding is not the viewer's time);
        // later lateness is the pin's to catch up by skipping frames, never
        // the clock's to absorb: a slow pass must not slow the play speed.
        const int64_t elapsed = std::max<int64_t>(NowLocked(*self) - m_baseTime, 0);
        if (!self->paused && current > 0 && !m_anchored.exchange(true) && current < elapsed)
            m_baseTime += elapsed - current;

        // Woken, a client looks again: it goes once it is the earliest (a
        // client woken for another reason, or whose times went stale while
        // it waited, does not jump the queue; nor does it stay behind one
        // that has gone).
        for (;;) {
            // A client whose frame is overdue by more than kLateMs holds
            // nobody back: it is catching up (skipping) and presents out of
            // turn, while the others keep to the clock.
            const int64_t now = std::max<int64_t>(NowLocked(*self) - m_baseTime, 0);
            Client* earliest = EarliestClient(self, now - kLateMs);
            // On a tie a client that is itself in the race goes first:
            // waiting would gain nothing.
            const bool selfInRace = !self->paused && !self->finished;
            if (!earliest || earliest == self || (selfInRace && self->currentTime == earliest->currentTime)) break;
            Wake(*earliest);
            if (!RaiseWaiting(*self, false)) break;
            lock.unlock();
            // Looks again after a while on its own: the earliest may fall
            // behind the clock without reporting anything.
            WaitTurn(*self, kLookAgain);
            lock.lock();
        }
    }
    m_clock->WaitUntil(m_baseTime + current);
}

TimeSynchronizer::Client* TimeSynchronizer::EarliestClient(const Client* self, int64_t lateBefore) const {
    Client* earliest = nullptr;
    for (auto& c : m_clients) {
        if (c->paused || c->finished) continue;
        if (c.get() != self && c->currentTime < lateBefore) continue;
        if (!earliest || c->currentTime < earliest->currentTime) earliest = c.get();
    }
    return earliest;
}

void TimeSynchronizer::WakeDueTurns(const Client& self) {
    const Client* earliest = EarliestClient();
    if (!earliest) return;
    const int64_t first = earliest->currentTime;
    for (auto& other : m_clients) {
        if (other.get() == &self || other->paused || other->finished) continue;
        if (other->currentTime <= first) Wake(*other);
    }
}

void TimeSynchronizer::WakeWaitersToLookAgain(const Client& self) {
    for (auto& other : m_clients)
        if (other.get() != &self) WakeFastWaiter(*other);
    WakeDueTurns(self);
}

int64_t TimeSynchronizer::GetClientTime(int index) {
    const Client* self = At(index);
    if (!self) return 0;
    const int64_t t = self->paused ? m_pauseTime.load() : m_clock->GetTime();
    int64_t play = std::max<int64_t>(t - m_baseTime, 0);
    if (m_ordered) {
        for (auto& c : m_clients)
            if (!c->finished) play = std::min<int64_t>(play, c->nextTime);
    }
    return play;
}

int64_t TimeSynchronizer::GetPlayTime(int index) {
    const Client* self = At(index);
    if (!self) return 0;
    const int64_t t = self->paused ? m_pauseTime.load() : m_clock->GetTime();
    return std::max<int64_t>(t - m_baseTime, 0);
}

std::string TimeSynchronizer::Describe() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::string text = "clock " + std::to_string(m_clock->GetTime()) + " base " + std::to_string(m_baseTime) +
                       " pause " + std::to_string(m_pauseTime) + " reference " + std::to_string(m_referenceTime) +
                       " start " + std::to_string(m_startPosition) + (m_ordered ? " ordered" : " fast");
    for (auto& c : m_clients) {
        std::lock_guard<std::mutex> clientLock(c->lock);
        text += "; client " + std::to_string(c->index) + " current " + std::to_string(c->currentTime) + " next " +
                std::to_string(c->nextTime) + (c->finished ? " finished" : "") + (c->paused ? " paused" : "") +
                (c->waiting ? " waiting" : "");
    }
    return text;
}

}  // namespace filters
