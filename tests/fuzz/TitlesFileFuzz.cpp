// A channel's titles file, read into the titles of a channel that already
// holds some, then saved and read again: what is saved must load back whole.
#include <cstddef>
#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "FuzzSupport.h"
#include "archive/files/Titles.h"

using VindaraFileSystem::ChannelTitles;
using VindaraFileSystem::TitleTime;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gavexfuzz::WriteInput("1A2B.t07", data, size);
    ChannelTitles titles(7);
    titles.AddText(L"held", TitleTime(boost::gregorian::date(2022, 5, 27)), L"already here");
    LoadTitlesFile(titles, path);

    const std::string copy = gavexfuzz::WorkDir() + "/1A2B.copy.t07";
    if (!SaveTitlesFile(titles, copy, TitleTime(boost::posix_time::neg_infin),
                        TitleTime(boost::posix_time::pos_infin)))
        __builtin_trap();
    ChannelTitles again(7);
    LoadTitlesFile(again, copy);
    if (again.StreamCount() != titles.StreamCount()) __builtin_trap();
    for (const auto& stream : titles.streams) {
        const auto read = again.FindStream(stream.first);
        if (!read || read->nodes.size() != stream.second->nodes.size()) __builtin_trap();
        auto it = read->nodes.begin();
        for (const auto& node : stream.second->nodes) {
            if (it->first != node.first || it->second.text != node.second.text) __builtin_trap();
            ++it;
        }
    }
    return 0;
}
