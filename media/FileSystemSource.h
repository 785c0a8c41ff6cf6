#pragma once
// filters::FileSystemSource plays one channel of an archive front end
// (drives, exported folder or single exported file) through its channel
// reader, and fills the channel's title lines from the title text stored
// with each frame: plain texts, tagged entries (one line per title
// identifier) and "unattended:" track rectangles.
//
// No lock of its own: under a decoding source the frame operations run on
// the decoding thread or under the decoding source's lock; the title
// operations (SetTitles, UpdateTitles*) run on the consumer thread and touch
// only the title state, never the reader (UpdateTitlesFrom is given the
// frame to read).

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "media/VideoSourceInterfaces.h"

namespace Storage {
class IVindaraFileSystem;
class IChannelReader;
}  // namespace Storage

namespace filters {

class FileSystemSource : public IVideoSource {
public:
    // Throws std::runtime_error("Cannot create channel") when the front end
    // has no reader for the id; reader errors (Storage::InvalidArchiveException
    // among them) pass through.
    FileSystemSource(const boost::shared_ptr<Storage::IVindaraFileSystem>& frontEnd, const std::wstring& id);
    // Over a reader made elsewhere.
    FileSystemSource(const boost::shared_ptr<Storage::IChannelReader>& reader, const std::wstring& id);
    ~FileSystemSource() override;

    const std::wstring& GetName() const override { return m_name; }
    const std::wstring& GetId() const override { return m_id; }
    const std::vector<RecordPeriod>& GetPeriods() const override { return m_periods; }
    int64_t GetCurrentTime() override;
    int64_t GetNextTime() override;
    VideoFrame* GetCurrentFrame() override;
    VideoFrame* NextFrame() override;
    VideoFrame* PreviousFrame() override;
    void Seek(int64_t timeMs) override;
    bool IsAtEnd() override;
    Storage::IPlayInfo* GetPlayInfo() override;
    bool GetSampleFlag() override { return false; }
    void SetTitles(const boost::shared_ptr<render::Titles>& titles) override;
    void UpdateTitles() override;
    void UpdateTitlesFrom(const VideoFrame* frame) override;
    const CameraViewSettings& GetCameraSettings() const override { return m_cameraSettings; }
    const FrameInfo* GetFrameInfo() override { return nullptr; }
    int32_t GetTimeShift() override { return 0; }

private:
    void Init();
    int GetTitleIndex(const std::string& id);
    bool SetTitleLine(std::string content, int index);

    std::wstring m_id;
    std::wstring m_name;
    boost::shared_ptr<Storage::IChannelReader> m_reader;
    std::vector<RecordPeriod> m_periods;
    boost::shared_ptr<render::Titles> m_titles;
    int m_titleLineCount = 0;
    std::string m_lastTitleText;
    std::map<std::string, int> m_titleIndexes;
    CameraViewSettings m_cameraSettings;
};

// Takes a text beginning "unattended:" while the ShowTracks setting is on and
// draws its "mdparam<i><x1,y1,x2,y2>" rectangles in "color<i><n>" colours on
// title line index + 3; false (nothing drawn) for any other text.
bool ParseTrackRectangles(render::Titles& titles, const std::string& content, int index);

}  // namespace filters
