#pragma once
// The decoded picture of an FFmpeg video source as it travels to the frame
// decoder: a VideoFrame with m_nFormat FrameFormatFFmpegPicture whose m_pData
// points at this holder. The holder (and the AVFrame) belong to the source
// and stay valid until the source's next read, seek or close; the frame only
// borrows them (m_bOwnData 0).

struct AVFrame;

namespace filters {

struct FFmpegPictureHolder {
    bool ready = false;         // picture holds a decoded picture
    AVFrame* picture = nullptr;  // owned by the source
};

}  // namespace filters
