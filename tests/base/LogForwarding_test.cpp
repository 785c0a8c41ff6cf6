// Forwarding of messaging objects to slave receivers: idle until a slave
// connects, then one sender per slave delivering in order.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"
#include "base/LogForwarding.h"
#include "base/Messages.h"
#include "support/TempDir.h"
#include "base/VideoFrame.h"

using QorLog::DebugAsyncSender;
using QorLog::LogForwarding;
using QorLog::Receiver;

namespace {

constexpr auto kWait = std::chrono::seconds(20);

int ThreadCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

// Records what it receives (the message texts); can hold deliveries at a
// gate to let the test arrange the queue.
class RecordingReceiver : public Receiver
{
public:
    int32_t OnReceive(CNetObject* message) override
    {
        std::unique_lock<std::mutex> lock(m_lock);
        const Msg* msg = dynamic_cast<const Msg*>(message);
        m_received.push_back(msg ? msg->GetId() : std::string("?"));
        m_refCountsSeen.push_back(message->GetRefCount());
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_gateOpen; });
        return 7;
    }
    void OnFinalRelease() override { ++finalReleases; }

    void CloseGate()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_gateOpen = false;
    }
    void OpenGate()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_gateOpen = true;
        m_changed.notify_all();
    }
    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, kWait, [&] { return m_received.size() >= count; });
    }
    std::vector<std::string> Received()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_received;
    }
    std::vector<int32_t> RefCountsSeen()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_refCountsSeen;
    }

    int finalReleases = 0;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_gateOpen = true;
    std::vector<std::string> m_received;
    std::vector<int32_t> m_refCountsSeen;
};

// Serves the slaves it was given; counts the questions.
class TestSlaveServer : public QorLog::ISlaveServer
{
public:
    Receiver* GetReceiver(const std::string& slaveId) override
    {
        ++questions;
        auto it = receivers.find(slaveId);
        if (it == receivers.end())
            return nullptr;
        it->second->AddRef();
        return it->second;
    }
    std::map<std::string, Receiver*> receivers;
    int questions = 0;
};

Msg* NewMsg(const std::string& type, const std::string& id, const std::string& action)
{
    return new React(type, id, action);
}

// Hands a message to the forwarding and drops it.
void Deliver(LogForwarding& forwarding, CNetObject* message)
{
    forwarding.OnReceive(message);
    message->Release();
}

class LogForwardingTest : public ::testing::Test
{
};

} // namespace

TEST_F(LogForwardingTest, IdleWithoutAReceiver)
{
    const int threadsBefore = ThreadCount();
    LogForwarding forwarding;
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    EXPECT_EQ(forwarding.SenderCount(), 0u);

    // A server that does not serve this slave is asked and leaves it alone.
    auto server = std::make_shared<TestSlaveServer>();
    forwarding.AddSlaveServer(server);
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    EXPECT_EQ(server->questions, 1);
    EXPECT_EQ(forwarding.SenderCount(), 0u);

    Msg* line = NewMsg("LOG", "x", "LINE");
    EXPECT_FALSE(forwarding.PostTo("s1", line));
    EXPECT_EQ(forwarding.PostToAll(line), 0u);
    EXPECT_EQ(line->GetRefCount(), 1);
    line->Release();
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(LogForwardingTest, DeliversInOrderOnceASlaveConnects)
{
    RecordingReceiver receiver;
    auto server = std::make_shared<TestSlaveServer>();
    server->receivers["s1"] = &receiver;
    LogForwarding forwarding;
    forwarding.AddSlaveServer(server);

    const int threadsBefore = ThreadCount();
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    ASSERT_TRUE(forwarding.HasSender("s1"));
    EXPECT_EQ(receiver.GetRefCount(), 2); // the creator's and the sender's
    // The sender's thread starts with the first post, not before.
    EXPECT_EQ(ThreadCount(), threadsBefore);

    // Hold the first delivery so that the rest queues up behind it.
    receiver.CloseGate();
    std::vector<Msg*> posted;
    for (const char* id : {"a", "b", "c", "d"})
        posted.push_back(NewMsg("LOG", id, "LINE"));
    EXPECT_TRUE(forwarding.PostTo("s1", posted[0]));
    ASSERT_TRUE(receiver.WaitFor(1));
    EXPECT_EQ(ThreadCount(), threadsBefore + 1);
    EXPECT_TRUE(forwarding.PostTo("s1", posted[1]));
    EXPECT_TRUE(forwarding.PostTo("s1", posted[2]));
    EXPECT_TRUE(forwarding.PostTo("s1", posted[3], true)); // next in line
    receiver.OpenGate();
    ASSERT_TRUE(receiver.WaitFor(4));
    EXPECT_EQ(receiver.Received(), (std::vector<std::string>{"a", "d", "b", "c"}));
    // Each object was delivered holding the sender's reference beside ours,
    // and the sender let go of it afterwards.
    EXPECT_EQ(receiver.RefCountsSeen(), (std::vector<int32_t>{2, 2, 2, 2}));
    // The sender drops its reference just after the receiver returns, so
    // give it until the deadline rather than reading the count at once.
    for (Msg* msg : posted) {
        const auto released = std::chrono::steady_clock::now() + kWait;
        while (msg->GetRefCount() != 1 && std::chrono::steady_clock::now() < released)
            std::this_thread::yield();
        EXPECT_EQ(msg->GetRefCount(), 1);
        msg->Release();
    }

    Deliver(forwarding, NewMsg("SLAVE", "s1", "DISCONNECTED"));
    EXPECT_FALSE(forwarding.HasSender("s1"));
    EXPECT_EQ(receiver.GetRefCount(), 1);
    // The sender has waited for its thread; the system may take a moment
    // more to let the finished thread go.
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (ThreadCount() != threadsBefore && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(LogForwardingTest, OnlySlaveConnectAndDisconnectCount)
{
    RecordingReceiver receiver;
    auto server = std::make_shared<TestSlaveServer>();
    server->receivers["s1"] = &receiver;
    LogForwarding forwarding;
    forwarding.AddSlaveServer(server);

    // Not messages, or messages of another type or action: ignored.
    VideoFrame frame;
    forwarding.OnReceive(&frame);
    forwarding.OnReceive(nullptr);
    Deliver(forwarding, NewMsg("MASTER", "s1", "CONNECTED"));
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECT"));
    Deliver(forwarding, NewMsg("slave", "s1", "CONNECTED"));
    EXPECT_EQ(server->questions, 0);
    EXPECT_EQ(forwarding.SenderCount(), 0u);

    // Events and reacts are messages; ids are compared exactly.
    Deliver(forwarding, new Event("SLAVE", "s1", "CONNECTED"));
    EXPECT_TRUE(forwarding.HasSender("s1"));
    Deliver(forwarding, new React("SLAVE", "S1", "DISCONNECTED"));
    Deliver(forwarding, new React("SLAVE", "unknown", "DISCONNECTED"));
    EXPECT_TRUE(forwarding.HasSender("s1"));
    Deliver(forwarding, new React("SLAVE", "s1", "STOPPED"));
    EXPECT_TRUE(forwarding.HasSender("s1"));
}

TEST_F(LogForwardingTest, ReconnectReplacesTheSender)
{
    RecordingReceiver firstReceiver;
    RecordingReceiver secondReceiver;
    auto first = std::make_shared<TestSlaveServer>();
    auto second = std::make_shared<TestSlaveServer>();
    first->receivers["s1"] = &firstReceiver;
    second->receivers["s1"] = &secondReceiver;
    second->receivers["s2"] = &secondReceiver;
    LogForwarding forwarding;
    forwarding.AddSlaveServer(first);
    forwarding.AddSlaveServer(second);

    // Servers are asked in order; the first answer wins.
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    Deliver(forwarding, NewMsg("SLAVE", "s2", "CONNECTED"));
    EXPECT_EQ(firstReceiver.GetRefCount(), 2);
    EXPECT_EQ(secondReceiver.GetRefCount(), 2);
    EXPECT_EQ(second->questions, 1);

    // A second connect deletes the old sender first; when no server answers
    // now, the slave is left without one.
    first->receivers.clear();
    second->receivers.erase("s1");
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    EXPECT_FALSE(forwarding.HasSender("s1"));
    EXPECT_EQ(firstReceiver.GetRefCount(), 1);
    EXPECT_TRUE(forwarding.HasSender("s2"));

    Msg* line = NewMsg("LOG", "to-all", "LINE");
    EXPECT_EQ(forwarding.PostToAll(line), 1u);
    ASSERT_TRUE(secondReceiver.WaitFor(1));
    line->Release();

    // Removing all senders also forgets the servers.
    forwarding.RemoveAllAsyncSenders();
    EXPECT_EQ(forwarding.SenderCount(), 0u);
    EXPECT_EQ(secondReceiver.GetRefCount(), 1);
    second->receivers["s1"] = &secondReceiver;
    Deliver(forwarding, NewMsg("SLAVE", "s1", "CONNECTED"));
    EXPECT_EQ(forwarding.SenderCount(), 0u);
}

TEST_F(LogForwardingTest, SenderReleasesWhatItStillHolds)
{
    RecordingReceiver receiver;
    Msg* held = NewMsg("LOG", "held", "LINE");
    Msg* queued = NewMsg("LOG", "queued", "LINE");
    std::thread opener;
    {
        DebugAsyncSender sender(&receiver);
        EXPECT_EQ(receiver.GetRefCount(), 2);
        receiver.CloseGate();
        sender.Post(held);
        ASSERT_TRUE(receiver.WaitFor(1));
        sender.Post(queued);
        EXPECT_EQ(sender.QueuedCount(), 1u);
        EXPECT_EQ(queued->GetRefCount(), 2);
        sender.Clear();
        EXPECT_EQ(sender.QueuedCount(), 0u);
        EXPECT_EQ(queued->GetRefCount(), 1);

        // Destroyed while a delivery is held and another object waits: the
        // delivery finishes once the gate opens, the waiting object is
        // released either way.
        sender.Post(queued);
        opener = std::thread([&receiver] { receiver.OpenGate(); });
    }
    opener.join();
    EXPECT_EQ(receiver.Received().front(), "held");
    EXPECT_EQ(held->GetRefCount(), 1);
    EXPECT_EQ(queued->GetRefCount(), 1);
    EXPECT_EQ(receiver.GetRefCount(), 1);
    held->Release();
    queued->Release();
}

TEST(Receiver, LastReleaseMarksTheObjectAndCallsTheHookOnce)
{
    RecordingReceiver receiver;
    receiver.AddRef();
    receiver.AddRef();
    receiver.Release();
    receiver.Release();
    EXPECT_EQ(receiver.GetRefCount(), 1);
    EXPECT_EQ(receiver.finalReleases, 0);
    receiver.Release();
    EXPECT_EQ(receiver.GetRefCount(), Receiver::kReleased);
    EXPECT_EQ(receiver.finalReleases, 1);
    // A release after the last one changes nothing more.
    receiver.Release();
    EXPECT_EQ(receiver.GetRefCount(), Receiver::kReleased);
    EXPECT_EQ(receiver.finalReleases, 1);
}

// The process logger carries the forwarding: a connected slave gets a
// sender through the logger's own receiver side, and the logger's end
// takes the senders with it.
TEST_F(LogForwardingTest, LoggerReceivesSlaveMessages)
{
    RecordingReceiver receiver;
    auto server = std::make_shared<TestSlaveServer>();
    server->receivers["s1"] = &receiver;
    gavex_test::TempDir logDir("forwarding");
    {
        QorLog::CDebug logger(logDir.path(), "SOFTWARE\\QOR\\Vindara\\ForwardingTest", "forwarding");
        logger.GetForwarding().AddSlaveServer(server);
        Msg* connect = NewMsg("SLAVE", "s1", "CONNECTED");
        logger.OnReceive(connect);
        connect->Release();
        EXPECT_TRUE(logger.GetForwarding().HasSender("s1"));
        EXPECT_EQ(receiver.GetRefCount(), 2);
    }
    EXPECT_EQ(receiver.GetRefCount(), 1);
}
