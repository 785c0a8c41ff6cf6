// Helpers of the source tests: media files made by the ffmpeg tool, the
// reference picture of a time, and the I420 md5 of a planar sample.
#pragma once

#include <string>

#include "media/MediaSample.h"

namespace sourcetest {

// Encodes `seconds` of the 320x240 25 fps test pattern into the scratch
// folder (once per name); "" when ffmpeg fails.
std::string MakeMediaFile(const std::string& name, const std::string& encoderArgs, int seconds = 3);

// md5 of the picture that `ffmpeg -ss T -i FILE -frames:v 1 -f framemd5`
// decodes, as yuv420p.
std::string ReferencePictureMd5(const std::string& path, int64_t ms);

// md5 of a planar (YV12) sample's picture taken in I420 order (Y, U, V).
std::string SampleI420Md5(const render::ImageMediaSample& sample);

}  // namespace sourcetest
