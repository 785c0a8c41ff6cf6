#include "media/DecompressedVideoSource.h"

#include "config/QApplicationSettings.h"

#include <exception>

#include "FSImplementation/ChannelReader.h"
#include "base/Log.h"
#include "base/StringConv.h"
#include "base/frames/FormatTags.h"
#include "media/FileSystemSource.h"

namespace filters {

namespace {

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

int64_t TimeOf(const VideoFramePtr& frame)
{
    return FrameTimeMs(*frame);
}

bool Decodable(const VideoFrame* frame)
{
    return frame != nullptr && frame->m_pData != nullptr &&
           (frame->m_nFormat != FrameFormatCompressed || IsKeyFrame(frame) == 1);
}

}  // namespace

DecompressedVideoSource::DecompressedVideoSource(const boost::shared_ptr<IVideoSource>& inner,
                                                 int32_t queueLength)
    : m_inner(inner),
      m_queueLength(queueLength > 0 ? queueLength
                                    : std::max<int32_t>(1, QApplicationSettings::Instance().Live.FrameBufferForDecode.load()))
{
    m_thread = std::thread([this] { Run(); });
}

DecompressedVideoSource::~DecompressedVideoSource()
{
    {
        Lock lock(m_lock);
        m_running = false;
        m_wake.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool DecompressedVideoSource::Ready2()
{
    // "At the end" is the decoding thread's word, not the inner source's:
    // the inner source reaches its last frame while that frame is still in
    // the codec.
    return Active() && (m_decoded.size() >= 2 || (m_decoded.size() == 1 && m_atEnd));
}

void DecompressedVideoSource::InnerFailed(const char* what)
{
    QOR_LOG_ERROR(Log(), "[DECODER] source of channel %s failed, stream ended: %s",
                  WStringToString(m_inner->GetId()).c_str(), what);
    m_atEnd = true;
    m_wake.notify_all();
}

VideoFramePtr DecompressedVideoSource::DrainDecoder()
{
    try {
        return m_decoder.Drain();
    } catch (const std::exception& e) {
        Log()->Warning("[DECODER] held pictures dropped: %s", e.what());
        return nullptr;
    }
}

void DecompressedVideoSource::DropHeldPictures()
{
    while (DrainDecoder() != nullptr) {
    }
}

void DecompressedVideoSource::Run()
{
    for (;;) {
        VideoFramePtr frame;
        {
            Lock lock(m_lock);
            m_wake.wait(lock, [this] {
                return !m_running ||
                       (Active() && static_cast<int32_t>(m_decoded.size()) < m_queueLength && !m_atEnd);
            });
            m_restart = false;
            if (!m_running)
                return;
            try {
                frame = m_inner->GetCurrentFrame();
            } catch (const std::exception& e) {
                InnerFailed(e.what());
                continue;
            }
        }

        VideoFramePtr out;
        try {
            out = m_decoder.Decompress(frame.get());
        } catch (const std::exception& e) {
            // A frame that cannot be decoded is skipped.
            Log()->Warning("[DECODER] frame skipped: %s", e.what());
            out.reset();
        }

        Lock lock(m_lock);
        // A seek, a switch to passive or the end of the source while the
        // codec ran: the picture belongs to a position that is gone, and so
        // does any picture the codec still holds back.
        if (!m_running || m_restart || !Active()) {
            if (m_restart)
                DropHeldPictures();
            continue;
        }
        try {
            if (out && out->m_pData != nullptr && TimeOf(out) >= m_startTime) {
                m_decoded.push_back(out);
                m_compressed.push_back(frame);
                m_wake.notify_all();
            }
            // Checked for every frame, decoded or not: a stream that ends in
            // frames that do not decode still ends.
            if (frame == nullptr || m_inner->IsAtEnd()) {
                // A codec that reorders pictures still holds the last ones;
                // they go out with the last compressed frame as their record.
                const VideoFramePtr last = frame ? frame : (m_compressed.empty() ? nullptr : m_compressed.back());
                for (VideoFramePtr held; last && (held = DrainDecoder()) != nullptr;) {
                    if (held->m_pData == nullptr || TimeOf(held) < m_startTime)
                        continue;
                    m_decoded.push_back(held);
                    m_compressed.push_back(last);
                }
                m_atEnd = true;
                m_wake.notify_all();
            } else {
                m_inner->NextFrame();
            }
        } catch (const std::exception& e) {
            InnerFailed(e.what());
        }
    }
}

int64_t DecompressedVideoSource::GetCurrentTime()
{
    Lock lock(m_lock);
    m_wake.wait(lock, [this] { return !m_running || !Active() || Ready() || Exhausted(); });
    if (Ready())
        return TimeOf(m_decoded.front());
    return m_inner->GetCurrentTime();
}

int64_t DecompressedVideoSource::GetNextTime()
{
    Lock lock(m_lock);
    if (!Active())
        return 0;
    m_wake.wait(lock, [this] { return !m_running || Ready2() || Exhausted(); });
    if (!Ready2())
        return 0;
    return TimeOf(m_decoded.size() >= 2 ? m_decoded[1] : m_decoded.front());
}

VideoFrame* DecompressedVideoSource::GetCurrentFrame()
{
    Lock lock(m_lock);
    if (!Active())
        return nullptr;
    m_wake.wait(lock, [this] { return !m_running || Ready() || Exhausted(); });
    return Ready() ? m_decoded.front().get() : nullptr;
}

VideoFrame* DecompressedVideoSource::NextFrame()
{
    Lock lock(m_lock);
    if (!Active())
        return nullptr;
    m_wake.wait(lock, [this] { return !m_running || Ready2() || Exhausted(); });
    if (!Ready2())
        return nullptr;
    if (m_decoded.size() >= 2) {
        m_decoded.pop_front();
        m_compressed.pop_front();
        m_wake.notify_all();
    }
    return m_decoded.front().get();
}

VideoFrame* DecompressedVideoSource::PreviousFrame()
{
    Lock lock(m_lock);
    m_wake.wait(lock, [this] { return !m_running || !Active() || Ready() || Exhausted(); });
    if (Ready()) {
        const int64_t time = TimeOf(m_decoded.front());
        m_startTime = 0;
        m_wake.notify_all();
        m_inner->Seek(time);
    }
    return m_inner->PreviousFrame();
}

void DecompressedVideoSource::Seek(int64_t timeMs)
{
    Lock lock(m_lock);
    const std::vector<RecordPeriod>& periods = m_inner->GetPeriods();
    const int64_t first = periods.empty() ? 0 : periods.front().start;
    const int64_t last = periods.empty() ? 0 : periods.back().start + periods.back().length;
    const int64_t time = timeMs < first ? first : std::min(timeMs, last);

    bool settled = false;
    while (m_running && Active()) {
        if (static_cast<int32_t>(m_decoded.size()) >= m_queueLength ||
            (!m_decoded.empty() && m_atEnd)) {
            settled = true;
            break;
        }
        if (m_atEnd)
            break;
        m_wake.wait(lock);
    }
    if (settled && Active()) {
        size_t k = 0;
        while (k < m_decoded.size() && TimeOf(m_decoded[k]) <= time)
            ++k;
        if (k > 0 && k < m_decoded.size()) {
            m_decoded.erase(m_decoded.begin(), m_decoded.begin() + static_cast<ptrdiff_t>(k - 1));
            m_compressed.erase(m_compressed.begin(), m_compressed.begin() + static_cast<ptrdiff_t>(k - 1));
            m_wake.notify_all();
            return;
        }
    }

    m_decoded.clear();
    m_compressed.clear();
    m_atEnd = false;
    m_restart = true;
    // A reordering codec still holds pictures of the old position: they must
    // not come out after the new one.
    DropHeldPictures();
    try {
        m_inner->Seek(time);
        m_startTime = m_inner->GetCurrentTime();
        // Back to a frame decoding can start from.
        VideoFrame* f = m_inner->GetCurrentFrame();
        int64_t current = m_inner->GetCurrentTime();
        int64_t previous = 0;
        while (!Decodable(f) && current != previous) {
            previous = current;
            f = m_inner->PreviousFrame();
            current = m_inner->GetCurrentTime();
        }
        if (m_startTime > time && f != nullptr)
            m_startTime = FrameTimeMs(*f);
    } catch (const std::exception& e) {
        InnerFailed(e.what());
    }
    // 0 means passive: a source positioned at 1970-01-01 00:00 still plays.
    if (m_startTime == 0)
        m_startTime = 1;
    m_wake.notify_all();
}

bool DecompressedVideoSource::IsAtEnd()
{
    Lock lock(m_lock);
    m_wake.wait(lock, [this] { return !m_running || !Active() || Ready() || Exhausted(); });
    if (!Active())
        return false;
    if (Exhausted())
        return true;
    return m_decoded.size() == 1 && m_atEnd;
}

void DecompressedVideoSource::UpdateTitles()
{
    VideoFramePtr frame;
    {
        Lock lock(m_lock);
        if (!m_compressed.empty())
            frame = m_compressed.front();
        else if (!Active())
            frame = m_inner->GetCurrentFrame();
    }
    if (frame)
        m_inner->UpdateTitlesFrom(frame.get());
}

const FrameInfo* DecompressedVideoSource::GetFrameInfo()
{
    Lock lock(m_lock);
    if (m_compressed.empty())
        return nullptr;
    const VideoFrame* head = m_compressed.front().get();
    m_info.codec = GetVideoFrameCodecName(head);
    m_info.compressedSize = static_cast<int32_t>(head->m_cbData);
    m_info.keyFrame = head->m_pData != nullptr && (head->m_nFormat != FrameFormatCompressed || IsKeyFrame(head) == 1);
    return &m_info;
}

size_t DecompressedVideoSource::GetQueuedCount()
{
    Lock lock(m_lock);
    return m_decoded.size();
}

boost::shared_ptr<IVideoSource> CreateArchiveChannelSource(
    const boost::shared_ptr<Storage::IVindaraFileSystem>& frontEnd, const std::wstring& id)
{
    try {
        boost::shared_ptr<IVideoSource> inner(new FileSystemSource(frontEnd, id));
        return boost::shared_ptr<IVideoSource>(new DecompressedVideoSource(inner));
    } catch (const Storage::InvalidArchiveException&) {
        Log()->Message("Invalid video archive. Failed to create channel %s", WStringToString(id).c_str());
        return {};
    }
}

}  // namespace filters
