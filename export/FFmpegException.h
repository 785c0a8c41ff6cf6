#pragma once
// An FFmpeg failure of the remuxer with the stage it happened at:
// 1 output context, 2 output file, 3 header, 4 packet.

#include <cstdint>
#include <exception>
#include <string>

namespace utils {

class FFmpegException : public std::exception {
public:
    FFmpegException(std::string message, int32_t error, int32_t stage)
        : message(std::move(message)), ffmpegError(error), stage(stage)
    {
    }
    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
    int32_t ffmpegError = 0;
    int32_t stage = 0;
};

}  // namespace utils
