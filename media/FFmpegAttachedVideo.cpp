#include "media/FFmpegAttachedVideo.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <boost/format.hpp>

#include "base/Log.h"
#include "base/ParentProcess.h"

namespace filters {

bool FileContainVideo(const std::string& path, int64_t& offset, EmbeddedVideoDigest& digest)
{
    offset = 0;
    QorLog::CDebug* log = getDefaultDebugInstance();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        fseeko(file, 0, SEEK_END);
        const int64_t fileSize = ftello(file);
        fseeko(file, 0, SEEK_SET);
        const int64_t window = std::min<int64_t>(fileSize, kEmbeddedVideoSearchWindow);
        std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(window, 0)));
        const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
        // Match states without fall-back: a byte that breaks a partial match
        // restarts the search at the next byte (from state 0).
        size_t state = 0;
        for (size_t i = 0; i < got; ++i) {
            if (static_cast<char>(bytes[i]) == kEmbeddedVideoMarker[state]) {
                ++state;
            } else {
                state = 0;
                continue;
            }
            if (state < kEmbeddedVideoMarkerSize)
                continue;
            state = 0;
            const int64_t end = static_cast<int64_t>(i);
            if (end + 17 < fileSize) {
                // The digest may lie beyond the searched window: read it from
                // the file.
                if (end + 17 <= static_cast<int64_t>(got)) {
                    std::memcpy(digest.data(), &bytes[i + 1], digest.size());
                } else {
                    fseeko(file, end + 1, SEEK_SET);
                    if (std::fread(digest.data(), 1, digest.size(), file) != digest.size())
                        break;
                }
                offset = end + 17;
                break;
            }
        }
        std::fclose(file);
    }
    if (offset > 0)
        log->Message(boost::format("File '%1%' contains video at %2%") % path % offset);
    else
        log->Message(boost::format("File '%1%' does not contain video") % path);
    return offset > 0;
}

bool GetEmbeddedVideo(int64_t& offset, EmbeddedVideoDigest& digest, const std::string& path)
{
    static std::mutex lock;
    static bool done = false;
    static int64_t cachedOffset = 0;
    static EmbeddedVideoDigest cachedDigest{};
    std::lock_guard<std::mutex> guard(lock);
    if (!done) {
        FileContainVideo(path.empty() ? GetParentProcessPath() : path, cachedOffset, cachedDigest);
        done = true;
    }
    offset = cachedOffset;
    digest = cachedDigest;
    return offset != 0;
}

}  // namespace filters
