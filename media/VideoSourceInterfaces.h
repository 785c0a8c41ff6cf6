#pragma once
// The interface of every source in a playback chain, and the values of the
// application settings that the sources read while they run.
//
// A chain for an archive channel, from the renderer side:
//   source pin -> time-converting source -> DecompressedVideoSource
//     -> FileSystemSource -> channel reader
// Every call below the source pin is synchronous; the decoding source is the
// only link with a thread of its own.
//
// Times on this interface are signed milliseconds since 1970-01-01 00:00 UTC.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "base/VideoFrame.h"

namespace Storage {
class IPlayInfo;
}
namespace render {
class Titles;
}

namespace filters {

// One recorded period.
struct RecordPeriod {
    int64_t start = 0;   // first instant, ms since 1970
    int64_t length = 0;  // ms
    bool operator==(const RecordPeriod&) const = default;
};

// Statistics of one compressed frame (the source pin's information text).
struct FrameInfo {
    std::string codec;           // codec name of the frame's format code
    int32_t compressedSize = 0;  // m_cbData of the compressed frame
    bool keyFrame = false;
};

// The camera view of a channel: lens, position, display, rotation in degrees
// and the view rectangle (fractions of the picture).
struct CameraViewSettings {
    int32_t lens = 0;
    int32_t position = 0;
    int32_t display = 0;
    int32_t rotation = 0;
    double x = 0, y = 0, w = 0, h = 0;
};

// What a plain media file tells of its video stream.
struct MediaInfo {
    std::string codec;  // the decoder's name of the stream's codec
};

class IVideoSource {
public:
    virtual ~IVideoSource() = default;

    virtual const std::wstring& GetName() const = 0;
    virtual const std::wstring& GetId() const = 0;
    // In time order.
    virtual const std::vector<RecordPeriod>& GetPeriods() const = 0;
    // Time of the current frame.
    virtual int64_t GetCurrentTime() = 0;
    // Time of the frame after the current one; the current frame's time when
    // none follows.
    virtual int64_t GetNextTime() = 0;
    // Frames returned by these three stay owned by the source (borrowed): a
    // caller that keeps one beyond its next call on the source takes its own
    // reference. Null when there is none.
    virtual VideoFrame* GetCurrentFrame() = 0;
    virtual VideoFrame* NextFrame() = 0;
    virtual VideoFrame* PreviousFrame() = 0;
    // Makes the frame at that time current.
    virtual void Seek(int64_t timeMs) = 0;
    // No frame follows the current one.
    virtual bool IsAtEnd() = 0;
    // Borrowed; may be null.
    virtual Storage::IPlayInfo* GetPlayInfo() = 0;
    // The current recording passed the external signature check.
    virtual bool GetSampleFlag() = 0;
    // The source fills title lines of this set from now on.
    virtual void SetTitles(const boost::shared_ptr<render::Titles>& titles) = 0;
    // Refreshes the title texts from the current frame.
    virtual void UpdateTitles() = 0;
    // Refreshes the title texts from `frame`, the compressed frame of the
    // picture being presented (a decoding source runs ahead of what it
    // presents, so it names the frame). Sources without titles ignore it.
    virtual void UpdateTitlesFrom(const VideoFrame* frame) { (void)frame; }
    virtual const CameraViewSettings& GetCameraSettings() const = 0;
    // Statistics of the frame at the head of the output (owned by the
    // source, valid until its next call), or null.
    virtual const FrameInfo* GetFrameInfo() = 0;
    // Seconds between the recording's zone and this computer's.
    virtual int32_t GetTimeShift() = 0;
    // The media file's description of its video (owned by the source, valid
    // until its next call); null for archive channels.
    virtual const MediaInfo* GetMediaInfo() { return nullptr; }
};

// Milliseconds since 1970 of a frame's local time stamp.
int64_t FrameTimeMs(const VideoFrame& frame);

}  // namespace filters
