#include "playback/AudioPlayer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include "base/Log.h"

namespace filters {

namespace {

constexpr int32_t kDecodeAhead = 0x20000;
constexpr int64_t kLengthTolerance = 500;
constexpr auto kPassInterval = std::chrono::milliseconds(16);

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

}  // namespace

void ConvertPlanarFloatToS16(const float* const* planes, int32_t channels, int32_t count, int16_t* out)
{
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t c = 0; c < channels; ++c) {
            const float scaled = planes[c][i] * 32767.0f;
            // Out of range (and NaN) would wrap to the opposite sign.
            int16_t value = 0;
            if (scaled >= 32767.0f)
                value = std::numeric_limits<int16_t>::max();
            else if (scaled <= -32768.0f)
                value = std::numeric_limits<int16_t>::min();
            else if (scaled == scaled)
                value = static_cast<int16_t>(scaled);
            *out++ = value;
        }
    }
}

void AudioSource::OnStreamReset()
{
    m_sampleFormat = m_codecContext->sample_fmt;
    channels = m_codecContext->ch_layout.nb_channels;
    sampleRate = m_codecContext->sample_rate;
    planarFloat = false;
    m_supported = true;
    switch (m_sampleFormat) {
    case AV_SAMPLE_FMT_U8: bytesPerSample = 1; isSigned = 0; planar = false; break;
    case AV_SAMPLE_FMT_S16: bytesPerSample = 2; isSigned = 1; planar = false; break;
    case AV_SAMPLE_FMT_S32: bytesPerSample = 4; isSigned = 1; planar = false; break;
    case AV_SAMPLE_FMT_U8P: bytesPerSample = 1; isSigned = 0; planar = true; break;
    case AV_SAMPLE_FMT_S16P: bytesPerSample = 2; isSigned = 1; planar = true; break;
    case AV_SAMPLE_FMT_S32P: bytesPerSample = 4; isSigned = 1; planar = true; break;
    case AV_SAMPLE_FMT_FLTP:
        bytesPerSample = 2;
        isSigned = 1;
        planar = true;
        planarFloat = true;
        break;
    default: m_supported = false; break;
    }
    if (channels <= 0 || sampleRate <= 0)
        m_supported = false;
}

bool AudioSource::DecodePacket(PcmBuffer& buffer)
{
    if (!IsOpen() || m_codecContext == nullptr)
        return false;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_read_frame(m_formatContext, packet) < 0) {
        av_packet_free(&packet);
        return false;
    }
    if (packet->stream_index == m_streamIndex) {
        if (packet->dts != AV_NOPTS_VALUE)
            m_currentPts = std::max(m_currentPts, packet->dts);
        int sent = avcodec_send_packet(m_codecContext, packet);
        for (;;) {
            while (avcodec_receive_frame(m_codecContext, m_frame) == 0) {
                StoreFrame(buffer);
                av_frame_unref(m_frame);
            }
            // A decoder that was full takes the packet once emptied.
            if (sent != AVERROR(EAGAIN))
                break;
            sent = avcodec_send_packet(m_codecContext, packet);
            if (sent == AVERROR(EAGAIN))
                break;
        }
    }
    av_packet_free(&packet);
    return true;
}

bool AudioSource::StoreFrame(PcmBuffer& buffer)
{
    if (m_frame->format != m_sampleFormat || m_frame->ch_layout.nb_channels != channels ||
        m_frame->sample_rate != sampleRate || m_frame->nb_samples <= 0)
        return false;
    const AVRational tb = m_formatContext->streams[m_streamIndex]->time_base;
    if (tb.num <= 0 || tb.den <= 0)
        return false;
    // The end is in stream units; the count in samples.
    const int64_t left = std::max<int64_t>(0, m_endPts - m_currentPts);
    const int64_t leftSamples = left * tb.num * sampleRate / tb.den;
    const int32_t count = static_cast<int32_t>(std::min<int64_t>(m_frame->nb_samples, leftSamples));
    if (count <= 0) {
        m_currentPts = m_endPts;
        return true;
    }
    const int32_t bytes = bytesPerSample * channels * count;
    if (static_cast<size_t>(buffer.writePosition) + bytes > buffer.data.size())
        buffer.data.resize(static_cast<size_t>(buffer.writePosition) + bytes);
    uint8_t* out = buffer.data.data() + buffer.writePosition;
    if (planarFloat) {
        ConvertPlanarFloatToS16(reinterpret_cast<const float* const*>(m_frame->extended_data), channels, count,
                                reinterpret_cast<int16_t*>(out));
    } else if (planar) {
        for (int32_t i = 0; i < count; ++i)
            for (int32_t c = 0; c < channels; ++c) {
                std::copy_n(m_frame->extended_data[c] + static_cast<size_t>(i) * bytesPerSample, bytesPerSample, out);
                out += bytesPerSample;
            }
    } else {
        std::copy_n(m_frame->extended_data[0], bytes, out);
    }
    buffer.writePosition += bytes;
    m_currentPts += static_cast<int64_t>(count) * tb.den / tb.num / sampleRate;
    return true;
}

AudioPlayer::AudioPlayer(std::unique_ptr<IAudioSink> sink, utils::TickSource ticks, bool startThread)
    : m_sink(sink ? std::move(sink) : MakeQtAudioSink())
    , m_externalClock(std::make_shared<utils::ExternalClock>(std::move(ticks)))
    , m_waitableClock(std::make_shared<utils::WaitableClock>(m_externalClock))
    , m_source(std::make_unique<AudioSource>())
{
    m_buffers[0].Empty();
    m_buffers[1].Empty();
    if (startThread)
        m_thread = std::thread([this] { Run(); });
}

AudioPlayer::~AudioPlayer()
{
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
    else
        m_sink->Close();
}

void AudioPlayer::Play(const AudioRequest& current, const AudioRequest& next, bool restart)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const bool queued = std::find(m_requests.begin(), m_requests.end(), current) != m_requests.end();
    if (restart || !queued) {
        m_requests.clear();
        m_resetRequested = true;
        m_externalClock->UseInternalTime();
        restart = true;
    }
    if (current.path.empty())
        return;
    if (restart)
        m_externalClock->SetExternalTime(0);
    if (std::find(m_requests.begin(), m_requests.end(), current) == m_requests.end())
        m_requests.push_back(current);
    if (!next.path.empty() && std::find(m_requests.begin(), m_requests.end(), next) == m_requests.end())
        m_requests.push_back(next);
}

void AudioPlayer::Stop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.clear();
    m_resetRequested = true;
    m_externalClock->UseInternalTime();
}

void AudioPlayer::SetVolume(double volume)
{
    m_volume = std::clamp(volume, 0.0, 1.0);
    m_volumeChanged = true;
}

size_t AudioPlayer::QueuedRequests()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests.size();
}

void AudioPlayer::Run()
{
    while (m_running) {
        RunPass();
        std::this_thread::sleep_for(kPassInterval);
    }
    m_sink->Close();
}

void AudioPlayer::RunPass()
{
    try {
        if (m_resetRequested) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_source->MarkExhausted();
            ResetOutput();
        }
        if (m_decoderState == 1 || (m_decoderState == 0 && QueuedRequests() > 0))
            m_decoderState = FillBuffer(m_buffers[1 - m_current]);
        Service();
    } catch (const std::exception& e) {
        Log()->Warning("Audio playback failed: %s", e.what());
        PassOver();
    } catch (...) {
        Log()->Warning("Audio playback failed");
        PassOver();
    }
}

int AudioPlayer::FillBuffer(PcmBuffer& buffer)
{
    buffer.Empty();
    buffer.outputStart = -1;
    do {
        if (m_source->IsExhausted())
            continue;
        const AudioFormat format{m_source->channels, m_source->sampleRate, m_source->bytesPerSample,
                                 m_source->isSigned != 0};
        if (buffer.writePosition > 0 && !(format == buffer.Format()))
            break;
        buffer.channels = format.channels;
        buffer.sampleRate = format.sampleRate;
        buffer.bytesPerSample = format.bytesPerSample;
        buffer.isSigned = format.isSigned;
        if (buffer.writePosition == 0 && m_sourceFresh && !m_segments.empty())
            buffer.outputStart = m_segments.back().outputStart;
        m_sourceFresh = false;
        bool decoded = true;
        while (buffer.Pending() < kDecodeAhead && (decoded = m_source->DecodePacket(buffer))) {
        }
        // A stream ending before its announced end is done all the same.
        if (!decoded)
            m_source->MarkExhausted();
    } while (OpenNextRequest());
    return buffer.writePosition > 0 ? 2 : 0;
}

bool AudioPlayer::OpenNextRequest()
{
    if (!m_source->IsExhausted())
        return false;
    AudioRequest request;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // A restart waits for the next pass, which drops what was taken.
        if (m_resetRequested)
            return false;
        if (m_requestTaken && !m_requests.empty())
            m_requests.pop_front();
        if (!m_requests.empty()) {
            request = m_requests.front();
            m_requestTaken = true;
        }
    }
    if (request.path.empty())
        return false;
    if (request.duration <= 0) {
        Log()->Warning("Audio request without duration passed over: %s", request.path.c_str());
        return false;
    }
    if (!m_source->Open(request.path, request.streamTitle)) {
        Log()->Warning("No sound can be played from %s", request.path.c_str());
        return false;
    }
    if (!m_source->IsSupported()) {
        Log()->Warning("Unknown format (%d) of the sound of %s", m_source->GetSampleFormat(), request.path.c_str());
        m_source->Close();
        return false;
    }
    m_source->Seek(static_cast<double>(request.start));
    int64_t remaining = m_source->PtsToMilliseconds(m_source->GetEndPts()) -
                        m_source->PtsToMilliseconds(m_source->GetCurrentPts());
    if (remaining <= 0) {
        m_source->MarkExhausted();
        return false;
    }
    const int64_t d = request.duration;
    if (remaining + kLengthTolerance < d) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.clear();
        remaining = d;
    } else if (d < remaining - kLengthTolerance) {
        m_source->LimitDuration(d);
        remaining = m_source->PtsToMilliseconds(m_source->GetEndPts()) -
                    m_source->PtsToMilliseconds(m_source->GetCurrentPts());
        if (remaining <= 0) {
            m_source->MarkExhausted();
            return false;
        }
    }
    m_segments.push_back(AudioSegment{m_nextOutputStart, remaining, m_nextMediaStart, d});
    m_nextOutputStart += remaining;
    m_nextMediaStart += d;
    m_sourceFresh = true;
    return true;
}

void AudioPlayer::Service()
{
    PcmBuffer& current = m_buffers[m_current];
    if (!WriteToOutput(current)) {
        PassOver();
        return;
    }
    if (m_hasDevice) {
        if (m_sink->HasError()) {
            Log()->Warning("The sound output failed");
            PassOver();
            return;
        }
        const int64_t processed = m_sink->ProcessedUSecs() / 1000;
        if (!m_processedBaseTaken) {
            m_processedBase = processed;
            m_processedBaseTaken = true;
        }
        const int64_t played = processed - m_processedBase + m_playedOffset;
        while (!m_segments.empty() && m_segments.front().outputStart + m_segments.front().length < played)
            m_segments.pop_front();
        if (!m_segments.empty()) {
            const AudioSegment& s = m_segments.front();
            const int64_t into = std::max<int64_t>(0, played - s.outputStart);
            m_externalClock->SetExternalTime(into * s.requestedLength / s.length + s.mediaStart);
        }
    }
    if (current.Pending() > 0)
        return;
    if (m_decoderState == 2) {
        m_decoderState = 1;
        m_current = 1 - m_current;
        return;
    }
    if (m_decoderState == 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_requestTaken && m_requests.empty() && !m_resetRequested) {
            m_externalClock->UseInternalTime();
            ResetOutput();
        }
    }
}

bool AudioPlayer::WriteToOutput(PcmBuffer& buffer)
{
    if (buffer.Pending() <= 0)
        return true;
    const AudioFormat format = buffer.Format();
    if (!m_hasOutput || !(m_outputFormat == format)) {
        m_hasDevice = false;
        m_hasOutput = m_sink->Create(format);
        if (!m_hasOutput) {
            Log()->Warning("No sound output for %d channels at %d Hz, %d bits", format.channels, format.sampleRate,
                           format.bytesPerSample * 8);
            return false;
        }
        m_outputFormat = format;
        m_playedOffset = std::max<int64_t>(0, buffer.outputStart);
    }
    if (!m_hasDevice) {
        if (!m_sink->Start()) {
            Log()->Warning("The sound output cannot start");
            return false;
        }
        m_hasDevice = true;
        m_volumeChanged = true;
        m_processedBaseTaken = false;
    }
    const int32_t free = m_sink->BytesFree();
    const int32_t period = m_sink->PeriodSize();
    if (period < 1) {
        buffer.Empty();
    } else {
        for (int32_t i = 0; i < free / period; ++i) {
            const int32_t chunk = std::min(period, buffer.Pending());
            if (chunk <= 0)
                break;
            const int64_t written = m_sink->Write(buffer.data.data() + buffer.readPosition, chunk);
            if (written < 0)
                return false;
            buffer.readPosition += static_cast<int32_t>(written);
            if (chunk < period || written < chunk)
                break;
        }
    }
    if (m_volumeChanged.exchange(false))
        m_sink->SetVolume(m_volume);
    return true;
}

void AudioPlayer::ResetOutput()
{
    m_segments.clear();
    m_nextOutputStart = 0;
    m_nextMediaStart = 0;
    m_sink->Stop();
    m_hasDevice = false;
    m_playedOffset = 0;
    m_decoderState = 0;
    m_buffers[0].Empty();
    m_buffers[1].Empty();
    m_resetRequested = false;
    m_requestTaken = false;
}

void AudioPlayer::PassOver()
{
    // The request being played is dropped (the next pass takes the next
    // one); pictures go on on the clock's own time.
    m_source->MarkExhausted();
    m_segments.clear();
    m_nextOutputStart = 0;
    m_nextMediaStart = 0;
    m_sink->Stop();
    m_hasDevice = false;
    m_hasOutput = false;
    m_playedOffset = 0;
    m_decoderState = 0;
    m_buffers[0].Empty();
    m_buffers[1].Empty();
    m_externalClock->UseInternalTime();
}

}  // namespace filters
