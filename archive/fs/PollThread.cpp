#include "archive/fs/PollThread.h"

#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>

#include "archive/fs/FileSystem.h"
#include "base/Log.h"

namespace ThreadRoutines {

PollTimeoutThread::~PollTimeoutThread() {
    m_thread.interrupt();
    m_thread.join();
    m_poll = nullptr;
}

void PollTimeoutThread::Start(std::function<void()> poll) {
    if (IsRunning()) return;
    m_poll = std::move(poll);
    m_thread = boost::thread([this] { Run(); });
}

void PollTimeoutThread::Run() {
    try {
        while (!boost::this_thread::interruption_requested()) {
            if (m_poll) m_poll();
            int64_t ms = m_period.load() / 1000;
            if (ms < 0) ms = 0;
            boost::this_thread::sleep(boost::posix_time::milliseconds(ms));
        }
    } catch (const boost::thread_interrupted&) {
    }
}

}  // namespace ThreadRoutines

TestDelay::TestDelay(int seconds)
    : m_delay(boost::posix_time::seconds(seconds)), m_start(boost::posix_time::microsec_clock::universal_time()) {
    getDefaultDebugInstance()->Message("[FS][TestDelay] %d seconds.", seconds);
}

TestDelay::~TestDelay() {
    const auto elapsed = boost::posix_time::microsec_clock::universal_time() - m_start;
    if (elapsed < m_delay) {
        const int64_t remaining = (m_delay - elapsed).total_microseconds() / 1000;
        getDefaultDebugInstance()->Message(boost::format("[FS][TestDelay] additional sleep %1% ms.") % remaining);
        boost::this_thread::no_interruption_point::sleep(boost::posix_time::milliseconds(remaining));
    }
    getDefaultDebugInstance()->Message("[FS][TestDelay] complete.");
}

void FileSystem::OnPollTimer() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return;
    if (local.tm_min % 10 == 0 && local.tm_sec == 0) deleteNoMore();
}
