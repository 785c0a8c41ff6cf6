#include "playback/AudioSink.h"

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QIODevice>

namespace filters {

namespace {

QAudioFormat MakeAudioFormat(const AudioFormat& format)
{
    QAudioFormat result;
    result.setCodec("audio/pcm");
    result.setSampleType(format.isSigned ? QAudioFormat::SignedInt : QAudioFormat::UnSignedInt);
    result.setChannelCount(format.channels);
    result.setSampleRate(format.sampleRate);
    result.setSampleSize(format.bytesPerSample * 8);
    return result;
}

class QtAudioSink final : public IAudioSink {
public:
    ~QtAudioSink() override { Close(); }

    bool Create(const AudioFormat& format) override
    {
        Close();
        const QAudioDeviceInfo info = QAudioDeviceInfo::defaultOutputDevice();
        const QAudioFormat qtFormat = MakeAudioFormat(format);
        if (info.isNull() || !info.isFormatSupported(qtFormat))
            return false;
        m_output = std::make_unique<QAudioOutput>(info, qtFormat);
        return true;
    }

    bool Start() override
    {
        if (!m_output)
            return false;
        m_device = m_output->start();
        return m_device != nullptr && m_output->error() == QAudio::NoError;
    }

    void Stop() override
    {
        if (m_output)
            m_output->stop();
        m_device = nullptr;
    }

    void Close() override
    {
        Stop();
        m_output.reset();
    }

    int32_t BytesFree() override
    {
        Pump();
        return m_output ? m_output->bytesFree() : 0;
    }

    int32_t PeriodSize() override { return m_output ? m_output->periodSize() : 0; }

    int64_t Write(const uint8_t* data, int64_t size) override
    {
        if (m_device == nullptr)
            return -1;
        return m_device->write(reinterpret_cast<const char*>(data), size);
    }

    int64_t ProcessedUSecs() override { return m_output ? m_output->processedUSecs() : 0; }

    bool HasError() override
    {
        if (!m_output)
            return false;
        const QAudio::Error error = m_output->error();
        return error == QAudio::OpenError || error == QAudio::IOError || error == QAudio::FatalError;
    }

    void SetVolume(double volume) override
    {
        if (m_output)
            m_output->setVolume(volume);
    }

private:
    // The output lives on the audio thread, which has no event loop of its
    // own: its notifications are handed over here.
    static void Pump()
    {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    std::unique_ptr<QAudioOutput> m_output;
    QIODevice* m_device = nullptr;
};

}  // namespace

std::unique_ptr<IAudioSink> MakeQtAudioSink()
{
    return std::make_unique<QtAudioSink>();
}

}  // namespace filters
