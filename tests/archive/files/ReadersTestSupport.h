#pragma once

// Shared pieces of the frames reader tests: sample files and frame checks.

#include "archive/files/DynamicFramesReader.h"
#include "base/VideoFrame.h"
#include "support/ArchiveFileWriter.h"
#include "support/ArchiveTss.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace readers_test {

// 2023-11-14 22:13:20 UTC; frames 200 ms apart.
constexpr int64_t kStartMs = 1700000000000;
constexpr int64_t kStepMs = 200;

inline VideoFramePtr NewFrame()
{
    return VideoFramePtr(new VideoFrame(), false);
}

using testsupport::LocalTss;

// The frame read holds exactly the stored frame: time, data and title text.
inline ::testing::AssertionResult SameFrame(const VideoFrame& got, const testsupport::ArchiveFrame& want)
{
    if (!(got.m_tssTime == LocalTss(want.unixMs)))
        return ::testing::AssertionFailure() << "time " << got.m_tssTime.ToIsoString() << " != "
                                             << LocalTss(want.unixMs).ToIsoString();
    if (got.m_cbData != want.data.size() || !got.m_pData
        || !std::equal(want.data.begin(), want.data.end(), got.m_pData))
        return ::testing::AssertionFailure() << "data differs (" << got.m_cbData << " bytes, want " << want.data.size()
                                             << ")";
    if (got.m_strSubtitles != want.subtitles)
        return ::testing::AssertionFailure() << "subtitles '" << got.m_strSubtitles << "'";
    return ::testing::AssertionSuccess();
}

inline std::vector<testsupport::ArchiveFrame> SampleFrames(size_t count = 30, size_t gop = 10)
{
    auto frames = testsupport::MakeSyntheticFrames(count, kStartMs, kStepMs, gop, 40);
    for (size_t i = 0; i < frames.size(); i += 3)
        frames[i].subtitles = "title " + std::to_string(i);
    if (frames.size() > 4)
        frames[4].subtitlePart = false; // a record without the subtitle part
    return frames;
}

inline int HeldReaderType(const DynamicFramesReader& reader)
{
    return reader.GetCurrentReader()->GetReaderType();
}

} // namespace readers_test
