#pragma once
// The short description of a channel shown under its name in the source
// browser: codec, resolution, first and last recorded time and the total
// recorded duration. Archive channels have none (their codec is only known
// frame by frame).

#include <string>

#include <boost/shared_ptr.hpp>

namespace filters {
class IVideoSource;
}

class VideoSequenceItemInfo {
public:
    explicit VideoSequenceItemInfo(boost::shared_ptr<filters::IVideoSource> source);

    // Five lines separated by line feeds (UTF-8), or "" for a source without
    // a current frame or without media information. Times are written in the
    // source's time (its offset, or this computer's zone for 0) with the
    // global locale's date and time.
    std::string ToString() const;

private:
    boost::shared_ptr<filters::IVideoSource> m_source;
};
