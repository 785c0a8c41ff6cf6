// Forwarding of messaging objects from the logger to slave receivers.
//
// A slave announces itself with a Msg of type "SLAVE" and action "CONNECTED"
// (its id in the message's id) delivered to the logger; the logger asks its
// slave servers, in the order they were added, for a Receiver serving that
// slave and starts a DebugAsyncSender for it. "DISCONNECTED" stops and
// deletes the sender. A sender delivers the objects posted to it one at a
// time, in order, on a thread of its own.
//
// Idle by design: while no slave server answers, nothing is created: no
// sender, no thread. A sender's thread starts with the first object posted
// to it, not when the sender is made.
//
// This header includes nothing of the logger, so the logger can embed a
// LogForwarding.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Locks.h"
#include "base/Thread.h"

class CNetObject;

namespace QorLog {

// An object that accepts messaging objects; reference-counted.
//
// The count starts at 1 (the creator's). Release of a count above 1 takes
// one away; the last Release marks the object released (the count becomes
// the most negative 32-bit value, so a stray AddRef can be told apart) and
// calls OnFinalRelease, which does nothing unless a subclass says so (for
// example by calling DeleteThis). A Receiver is therefore never deleted by
// Release alone.
class Receiver
{
public:
    static constexpr int32_t kReleased = INT32_MIN;

    Receiver() = default;
    virtual ~Receiver() = default;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Accepts one object (borrowed for the call; AddRef to keep it). The
    // result is the receiver's own; senders do not act on it.
    virtual int32_t OnReceive(CNetObject* message) = 0;
    // Called once, by the Release that drops the last reference.
    virtual void OnFinalRelease() {}
    virtual void OnAttached() {}
    virtual void OnDetached() {}
    virtual int32_t GetFlags() const { return 0; }
    virtual void DeleteThis() { delete this; }

    void AddRef() { m_refCount.fetch_add(1); }
    void Release();
    int32_t GetRefCount() const { return m_refCount.load(); }

private:
    std::atomic<int32_t> m_refCount{1};
};

// One slave server: finds the receiver for a slave.
class ISlaveServer
{
public:
    virtual ~ISlaveServer() = default;
    // The receiver that serves the slave, with one reference added for the
    // caller (who releases it), or null when this server does not serve it.
    virtual Receiver* GetReceiver(const std::string& slaveId) = 0;
};

// The list of slave servers, asked in the order they were added.
class SlaveServer
{
public:
    SlaveServer() = default;
    virtual ~SlaveServer() { Clear(); }

    void Add(std::shared_ptr<ISlaveServer> server) { m_servers.push_back(std::move(server)); }
    void Clear() { m_servers.clear(); }
    bool Empty() const { return m_servers.empty(); }
    // The first answer, with the reference its server added; null when no
    // server answers.
    Receiver* FindReceiver(const std::string& slaveId) const;

private:
    std::vector<std::shared_ptr<ISlaveServer>> m_servers;
};

// Delivers queued objects to one receiver on its own thread.
class DebugAsyncSender : public Thread
{
public:
    // Takes a reference to the receiver (null: objects are dropped).
    explicit DebugAsyncSender(Receiver* receiver);
    // Releases every queued object, stops the thread (waiting for a delivery
    // in progress) and releases the receiver.
    ~DebugAsyncSender() override;

    // Queues the object (a reference is added; the caller keeps its own),
    // at the front when `front` is set, and starts the thread on the first
    // post. Never waits for a delivery. Returns true.
    virtual bool Post(CNetObject* object, bool front = false);
    // Releases every queued object.
    virtual void Clear();

    size_t QueuedCount() const;
    int32_t GetLastResult() const { return m_lastResult.load(); }

    // One pass: delivers the first queued object, if any; sleeps 10 ms when
    // the queue is then empty.
    bool Run() override;

private:
    mutable qormisc::CriticalSection m_queueLock;
    qormisc::CriticalSection m_sendLock;
    std::atomic<int32_t> m_stopWhenEmpty{0};  // nothing sets it
    std::atomic<int32_t> m_lastResult{0};
    Receiver* m_receiver;
    std::deque<CNetObject*> m_queue;  // one reference each
};

// The logger's slave side: the slave servers, the senders by slave id and the
// lock guarding the map. OnReceive and RemoveAllAsyncSenders run on any
// thread and are serialised by that lock.
class LogForwarding
{
public:
    LogForwarding() = default;
    ~LogForwarding();
    LogForwarding(const LogForwarding&) = delete;
    LogForwarding& operator=(const LogForwarding&) = delete;

    // Serves later "CONNECTED" messages (after the servers added before).
    void AddSlaveServer(std::shared_ptr<ISlaveServer> server);

    // A Msg (or Event, React) of type "SLAVE": "CONNECTED" replaces the
    // slave's sender by a new one when a server answers (else the slave is
    // left without one), "DISCONNECTED" deletes it. Anything else is
    // ignored. The message is borrowed.
    void OnReceive(CNetObject* message);

    // Deletes every sender, then forgets the slave servers.
    void RemoveAllAsyncSenders();

    // Posts the object to the slave's sender; false when it has none.
    bool PostTo(const std::string& slaveId, CNetObject* object, bool front = false);
    // Posts the object to every sender; the number of senders.
    size_t PostToAll(CNetObject* object, bool front = false);

    bool HasSender(const std::string& slaveId) const;
    size_t SenderCount() const;

private:
    mutable qormisc::CriticalSection m_mapLock;
    SlaveServer m_servers;
    std::map<std::string, std::unique_ptr<DebugAsyncSender>> m_senders;
};

} // namespace QorLog
