#pragma once
// A channel source of fixed periods and at most one frame, for the panels'
// tests.

#include <optional>
#include <string>
#include <vector>

#include "base/VideoFrame.h"
#include "media/VideoSourceInterfaces.h"

namespace guitest {

class FakeSource : public filters::IVideoSource {
public:
    FakeSource(std::wstring name, std::vector<filters::RecordPeriod> periods)
        : m_name(std::move(name)), m_periods(std::move(periods))
    {
    }

    // A decoded-size frame without pixels (width and height only).
    void SetFrame(int width, int height)
    {
        m_frame = VideoFramePtr(new VideoFrame("", 0), false);
        m_frame->m_nWidth = width;
        m_frame->m_nHeight = height;
    }

    const std::wstring& GetName() const override { return m_name; }
    const std::wstring& GetId() const override { return m_name; }
    const std::vector<filters::RecordPeriod>& GetPeriods() const override { return m_periods; }
    int64_t GetCurrentTime() override { return 0; }
    int64_t GetNextTime() override { return 0; }
    VideoFrame* GetCurrentFrame() override { return m_frame.get(); }
    VideoFrame* NextFrame() override { return nullptr; }
    VideoFrame* PreviousFrame() override { return nullptr; }
    void Seek(int64_t) override {}
    bool IsAtEnd() override { return true; }
    Storage::IPlayInfo* GetPlayInfo() override { return nullptr; }
    bool GetSampleFlag() override { return false; }
    void SetTitles(const boost::shared_ptr<render::Titles>&) override {}
    void UpdateTitles() override {}
    const filters::CameraViewSettings& GetCameraSettings() const override { return m_camera; }
    const filters::FrameInfo* GetFrameInfo() override { return nullptr; }
    int32_t GetTimeShift() override { return timeShift; }
    const filters::MediaInfo* GetMediaInfo() override { return media ? &*media : nullptr; }

    std::optional<filters::MediaInfo> media;
    int32_t timeShift = 0;

private:
    std::wstring m_name;
    std::vector<filters::RecordPeriod> m_periods;
    VideoFramePtr m_frame;
    filters::CameraViewSettings m_camera;
};

}  // namespace guitest
