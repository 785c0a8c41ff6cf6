#include "base/LogForwarding.h"

#include <chrono>
#include <thread>

#include "base/Messages.h"
#include "base/NetObject.h"

namespace QorLog {

void Receiver::Release()
{
    int32_t count = m_refCount.load();
    for (;;) {
        if (count > 1) {
            if (m_refCount.compare_exchange_weak(count, count - 1))
                return;
            continue;
        }
        if (m_refCount.compare_exchange_weak(count, kReleased)) {
            if (count == 1)
                OnFinalRelease();
            return;
        }
    }
}

Receiver* SlaveServer::FindReceiver(const std::string& slaveId) const
{
    for (const auto& server : m_servers)
        if (server)
            if (Receiver* receiver = server->GetReceiver(slaveId))
                return receiver;
    return nullptr;
}

DebugAsyncSender::DebugAsyncSender(Receiver* receiver) : m_receiver(receiver)
{
    if (m_receiver)
        m_receiver->AddRef();
}

DebugAsyncSender::~DebugAsyncSender()
{
    Clear();
    Stop(false);
    // A delivery that was in progress has finished; the queue may have been
    // refilled by a poster racing with the destruction.
    Clear();
    if (m_receiver)
        m_receiver->Release();
}

bool DebugAsyncSender::Post(CNetObject* object, bool front)
{
    if (!object)
        return true;
    object->AddRef();
    SyncLock lock(m_queueLock);
    if (front)
        m_queue.push_front(object);
    else
        m_queue.push_back(object);
    if (!IsRunning() && Start(kCreateSuspended, 0, nullptr))
        Resume();
    return true;
}

void DebugAsyncSender::Clear()
{
    std::deque<CNetObject*> taken;
    {
        SyncLock lock(m_queueLock);
        taken.swap(m_queue);
    }
    for (CNetObject* object : taken)
        object->Release();
}

size_t DebugAsyncSender::QueuedCount() const
{
    SyncLock lock(m_queueLock);
    return m_queue.size();
}

bool DebugAsyncSender::Run()
{
    bool empty = false;
    {
        SyncLock send(m_sendLock);
        CNetObject* object = nullptr;
        {
            SyncLock lock(m_queueLock);
            if (!m_queue.empty()) {
                object = m_queue.front();
                m_queue.pop_front();
            }
        }
        if (object) {
            if (m_receiver)
                m_lastResult.store(m_receiver->OnReceive(object));
            object->Release();
        }
    }
    {
        SyncLock lock(m_queueLock);
        empty = m_queue.empty();
    }
    if (empty) {
        if (m_stopWhenEmpty.load())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

LogForwarding::~LogForwarding()
{
    RemoveAllAsyncSenders();
}

void LogForwarding::AddSlaveServer(std::shared_ptr<ISlaveServer> server)
{
    SyncLock lock(m_mapLock);
    m_servers.Add(std::move(server));
}

void LogForwarding::OnReceive(CNetObject* message)
{
    // Msg, Event and React alike; the language's class test agrees with the
    // class registry for every registered message class and does not depend
    // on the registry having been filled yet.
    const Msg* msg = dynamic_cast<const Msg*>(message);
    if (!msg || msg->GetType() != "SLAVE")
        return;
    const std::string action = msg->GetAction();
    const bool connected = action == "CONNECTED";
    if (!connected && action != "DISCONNECTED")
        return;

    SyncLock lock(m_mapLock);
    const std::string id = msg->GetId();
    // The old sender goes first, so that one slave never has two.
    m_senders.erase(id);
    if (!connected)
        return;
    if (Receiver* receiver = m_servers.FindReceiver(id)) {
        m_senders[id] = std::make_unique<DebugAsyncSender>(receiver);
        receiver->Release();
    }
}

void LogForwarding::RemoveAllAsyncSenders()
{
    SyncLock lock(m_mapLock);
    m_senders.clear();
    m_servers.Clear();
}

bool LogForwarding::PostTo(const std::string& slaveId, CNetObject* object, bool front)
{
    SyncLock lock(m_mapLock);
    auto it = m_senders.find(slaveId);
    if (it == m_senders.end())
        return false;
    return it->second->Post(object, front);
}

size_t LogForwarding::PostToAll(CNetObject* object, bool front)
{
    SyncLock lock(m_mapLock);
    for (auto& entry : m_senders)
        entry.second->Post(object, front);
    return m_senders.size();
}

bool LogForwarding::HasSender(const std::string& slaveId) const
{
    SyncLock lock(m_mapLock);
    return m_senders.count(slaveId) != 0;
}

size_t LogForwarding::SenderCount() const
{
    SyncLock lock(m_mapLock);
    return m_senders.size();
}

} // namespace QorLog
