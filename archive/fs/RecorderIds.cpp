#include "archive/fs/RecorderIds.h"

#include <cstdlib>

#include <boost/format.hpp>

#include "base/Messages.h"

std::string MakeRecorderKey(int channel, const std::string& id) {
    return str(boost::format("recorder: channel = %1%, id = %2%") % channel % (id.empty() ? "(null)" : id));
}

void GetAudioMicIds(const Msg& message, std::vector<std::string>& ids) {
    const auto name = [](long i) { return str(boost::format("%s.%s.%d") % "AUDIO" % "mic_id" % i); };
    const std::string countText = message.GetParam(str(boost::format("%s.%s.count") % "AUDIO" % "mic_id"));
    long count = std::strtol(countText.c_str(), nullptr, 10);
    if (count > 0) {
        if (count > kMaxMicIds) count = kMaxMicIds;
        for (long i = 0; i < count; ++i) ids.push_back(message.GetParam(name(i)));
        return;
    }
    // Bounded by the message: every step needs a parameter of its own.
    for (long i = 0;; ++i) {
        std::string value = message.GetParam(name(i));
        if (value.empty()) return;
        ids.push_back(std::move(value));
    }
}
