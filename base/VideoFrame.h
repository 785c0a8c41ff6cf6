// VideoFrame: the unit of video that flows through the player: a compressed
// frame as the camera produced it, or a decoded picture in planes.
//
// Ownership: a frame starts with one reference owned by its creator
// (CNetObject); AddRef/Release are atomic, the last Release deletes it, which
// frees owned data through the frame allocator and destroys an attached media
// buffer. Everything else is unguarded: one thread fills a frame, then hands
// it on by reference. Hold frames in VideoFramePtr.
//
// The frame's data is one of:
//  - owned: allocated from GetFrameAllocator(), m_bOwnData 1;
//  - borrowed: a shallow copy points at another frame's data (valid only
//    while that frame lives), m_bOwnData 0, no buffer;
//  - buffer-backed: the memory of an attached MFF buffer (m_pBuffer set). A
//    decoded picture handed over by reference keeps its decoder's planes,
//    each in its own block with its own row pitch: m_pData is then its first
//    plane only, m_cbData the size of the picture packed, and readers go
//    through GetPicturePlanes or ContiguousData.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <boost/intrusive_ptr.hpp>

#include "base/NetObject.h"
#include "base/Tss.h"

namespace platform {
class File;
class Archive;
} // namespace platform

namespace MFF {
class IMultimediaBuffer;
}

// Layouts of m_nFormat.
enum VideoFrameLayout : int32_t
{
    FrameFormatYuv422OrGray = 0, // planes; YUV 4:2:2 when m_bColor is 1, grey when 0
    FrameFormatCompressed = 1,   // encoder output; the codec is in the last four bytes
    FrameFormatOtherColor = -1,  // accepted on reading (colour only); produced by no code here
    FrameFormatYuv420 = -3,      // planes YUV 4:2:0 (colour only)
    FrameFormatFFmpegPicture = 10000, // m_pData is the FFmpeg source's decoded-picture holder
};

// Where a decoded picture's planes lie. Plane 0 is luma (or grey), planes 1
// and 2 the chroma planes in stored order (Cb, then Cr); a grey picture has
// plane 0 only.
struct PicturePlanes
{
    const uint8_t* data[3] = {nullptr, nullptr, nullptr};
    int32_t pitch[3] = {0, 0, 0}; // bytes from one row to the next
    int32_t width[3] = {0, 0, 0}; // bytes of each row that are picture
    int32_t rows[3] = {0, 0, 0};
    int count = 0;
};

class VideoFrame : public CNetObject
{
public:
    // Time-zone bias stored when the real bias is 0 (0 in the stored colour
    // word means "keep the frame's bias").
    static constexpr int32_t kZeroBias = 10000;
    // Fixed part of an archive frame record, header word to data size.
    static constexpr uint32_t kRecordHeaderSize = 52;
    // Largest title text accepted in a record.
    static constexpr int32_t kMaxSubtitlesLength = 10485760;

    // The default object of the class registry: empty name, channel 0, time
    // stamp and bias as the named constructor sets them.
    VideoFrame();
    // A new frame of `chan` stamped with the current local time and tick count
    // and the process's time-zone bias. Throws platform::ArchiveException for a
    // negative channel or when the clock gives an invalid date.
    explicit VideoFrame(const std::string& name, int32_t chan = 0);
    // Deep copy (CopyWithData) or shallow copy: the header, colour, format,
    // size and picture size; the other frame's media buffer is taken over
    // (the other frame is left with no data and size 0), else its data is
    // borrowed.
    VideoFrame(VideoFrame& other, bool deep);
    ~VideoFrame() override;

    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;

    // Archive encoding of the frame (the object form used by the class
    // registry). Loading validates every field and throws
    // platform::ArchiveException with the failing check's text.
    void Serialize(platform::Archive& ar) override;
    const char* GetClassName() const override { return "VideoFrame"; }
    unsigned GetSchema() const override { return kSchema; }
    static constexpr unsigned kSchema = 2;

    // One archive frame record at the file's current position (layout in
    // VideoFrame.cpp). Loading with `readBody` allocates and reads the data;
    // without it the data is skipped and m_pData left as it was. Afterwards
    // the file is positioned just after the record. Throws
    // platform::ArchiveException for a bad value (format error) and
    // platform::FileException when the file ends inside the record.
    void SerializeFile(platform::File& file, bool loading, bool readBody = true);

    // Name, channel, frame number, total frames, time stamp, bias, delay,
    // file id, m_nExtra, subtitles, m_strExtra and m_llTime (not colour,
    // format, size or data).
    void CopyHeader(const VideoFrame& other);
    // Frees own data and copies another frame's picture, data (into owned
    // memory), header, colour and format. Throws std::bad_alloc when the frame
    // allocator fails.
    void CopyWithData(const VideoFrame& other);
    // Takes `size` bytes from the frame allocator and owns them (callers free
    // old data first). Returns false when the allocator fails; a size of 0
    // does nothing and returns true.
    bool AllocData(uint32_t size);
    // Gives owned data back, destroys an attached buffer; m_pData becomes null
    // (m_cbData is left unchanged).
    void FreeData();
    // Frees the current data and takes over `buffer` (the frame destroys it
    // when it frees its data). Compressed and planar buffers set format,
    // colour, size and picture size; another kind is logged, destroyed and not
    // kept. A buffer time stamp (non-zero) replaces m_tssTime.
    void AttachBuffer(MFF::IMultimediaBuffer* buffer);
    // UTC milliseconds since 1970: m_llTime, else m_tssTime converted.
    int64_t GetTimestamp() const;

    // The planes of a decoded picture (4:2:0, 4:2:2 or grey). Packed pictures
    // lie plane after plane in m_pData, chroma rows half the luma width; a
    // picture by reference has its buffer's planes and pitches. False for
    // another layout, no data, or planes that hold less than the picture.
    bool GetPicturePlanes(PicturePlanes& planes) const;
    // True when m_pData holds the frame's m_cbData bytes in one block: every
    // frame but a decoded picture by reference.
    bool IsContiguous() const;
    // The frame's m_cbData bytes in one block: m_pData itself when contiguous,
    // else the picture packed plane after plane into `scratch`. Null without
    // data or when the planes cannot be read.
    const uint8_t* ContiguousData(std::vector<uint8_t>& scratch) const;

    std::string m_strName;       // source (slave) name given at construction
    int32_t m_nChan = 0;         // channel number, never negative
    std::string m_sFileId;       // file the frame was read from, or request text
    TSS m_tssTime{};             // local date and time of the frame
    int32_t m_lDelay = 0;        // tick count at construction, then carried
    int32_t m_nFrameNumber = 0;
    int32_t m_nTotalFrames = 0;
    int32_t m_bColor = 0;        // 1 colour, 0 grey
    int32_t m_nWidth = 0;        // pixels; -1 allowed
    int32_t m_nHeight = 0;       // pixels; -1 allowed
    int32_t m_nFormat = 0;       // VideoFrameLayout
    uint32_t m_cbData = 0;       // data size in bytes
    uint8_t* m_pData = nullptr;
    int32_t m_nExtra = 0;        // carried and copied, stored in neither form
    int32_t m_bOwnData = 0;      // 1 when the frame allocated m_pData
    std::string m_strSubtitles;  // title text recorded with the frame
    MFF::IMultimediaBuffer* m_pBuffer = nullptr;
    int32_t m_nBias = kZeroBias; // recorder's time-zone bias in minutes
    std::string m_strExtra;      // carried and copied, stored in neither form
    int64_t m_llTime = 0;        // UTC ms since 1970, 0 when not yet known
    uint32_t m_cbCompressed = 0; // on a decoded frame: size of its compressed source

private:
    void InitNew(int32_t chan);
    void LoadFileBody(platform::File& file, bool readBody, bool withSubtitles);
    void StoreFile(platform::File& file);
};

using VideoFramePtr = boost::intrusive_ptr<VideoFrame>;

// Release that accepts null (returns false); true when the frame was destroyed.
bool ReleaseVideoFrame(VideoFrame* frame);

// Frame with two texts and a byte block (class "VideoFrameEx", schema 2).
class VideoFrameEx : public VideoFrame
{
public:
    VideoFrameEx() = default;
    ~VideoFrameEx() override;

    // VideoFrame::Serialize, then the two texts, the block length and block.
    void Serialize(platform::Archive& ar) override;
    const char* GetClassName() const override { return "VideoFrameEx"; }

    std::string m_strText1;
    std::string m_strText2;
    uint8_t* m_pBlock = nullptr; // owned (new[])
    uint32_t m_cbBlock = 0;
};

// Process-wide time-zone bias (minutes) stamped into new frames; taken once at
// start-up (InitProcessValues) so a later time-zone change does not alter it.
void SetFrameTimeZoneBias(int32_t biasMinutes);
int32_t GetFrameTimeZoneBias();
