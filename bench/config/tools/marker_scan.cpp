// Searches one file for the portable-player marker, as the player does at
// start-up; prints the video offset (0: none).
#include <cstdio>

#include "config/QApplicationSettings.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    int64_t offset = 0;
    EmbeddedVideoKey key{};
    QApplicationSettings::FileContainVideo(argv[1], offset, key, false);
    std::printf("%lld\n", static_cast<long long>(offset));
    return offset > 0 ? 0 : 1;
}
