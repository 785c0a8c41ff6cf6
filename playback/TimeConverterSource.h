#pragma once
// Puts a video source on the gapless time line: times it reports are mapped
// from archive to continuous time, times it is given are mapped back, and
// its periods are the converter's continuous periods. Frames keep their
// archive time stamps. No lock of its own: calls reach the inner source on
// the caller's thread, and the converter is only read.

#include <memory>

#include "media/VideoSourceInterfaces.h"

namespace utils {
class TimeConverter;
}

namespace filters {

class TimeConverterSource : public IVideoSource {
public:
    // Throws std::invalid_argument("Invalid arguments") when either is empty.
    TimeConverterSource(const boost::shared_ptr<IVideoSource>& inner,
                        const std::shared_ptr<utils::TimeConverter>& converter);
    ~TimeConverterSource() override;

    const std::wstring& GetName() const override { return m_inner->GetName(); }
    const std::wstring& GetId() const override { return m_inner->GetId(); }
    const std::vector<RecordPeriod>& GetPeriods() const override;
    int64_t GetCurrentTime() override;
    int64_t GetNextTime() override;
    VideoFrame* GetCurrentFrame() override { return m_inner->GetCurrentFrame(); }
    VideoFrame* NextFrame() override { return m_inner->NextFrame(); }
    VideoFrame* PreviousFrame() override { return m_inner->PreviousFrame(); }
    void Seek(int64_t timeMs) override;
    bool IsAtEnd() override { return m_inner->IsAtEnd(); }
    Storage::IPlayInfo* GetPlayInfo() override { return m_inner->GetPlayInfo(); }
    bool GetSampleFlag() override { return m_inner->GetSampleFlag(); }
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) override { m_inner->SetTitles(titles); }
    void UpdateTitles() override { m_inner->UpdateTitles(); }
    void UpdateTitlesFrom(const VideoFrame* frame) override { m_inner->UpdateTitlesFrom(frame); }
    const CameraViewSettings& GetCameraSettings() const override { return m_inner->GetCameraSettings(); }
    const FrameInfo* GetFrameInfo() override { return m_inner->GetFrameInfo(); }
    int32_t GetTimeShift() override { return m_inner->GetTimeShift(); }
    const filters::MediaInfo* GetMediaInfo() override { return m_inner->GetMediaInfo(); }

    const boost::shared_ptr<IVideoSource>& GetInner() const { return m_inner; }

private:
    boost::shared_ptr<IVideoSource> m_inner;
    std::shared_ptr<utils::TimeConverter> m_converter;
};

}  // namespace filters
