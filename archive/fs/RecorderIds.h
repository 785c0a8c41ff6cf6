// Names the engine gives its per-channel recorders and the microphones a
// channel's settings message lists.
#pragma once

#include <string>
#include <vector>

class Msg;

// The key of a recorder in the engine's recorder map:
// "recorder: channel = <channel>, id = <id>", "(null)" standing for an empty id.
std::string MakeRecorderKey(int channel, const std::string& id);

// Appends the microphone ids of a channel's settings message to `ids`.
// With a positive "AUDIO.mic_id.count", that many values of "AUDIO.mic_id.<i>"
// are appended, empty or missing ones as empty texts; without it (or with 0
// or a negative count) the values from index 0 up to the first missing or
// empty one. A count above kMaxMicIds is taken as kMaxMicIds: a damaged
// message must not append without end.
void GetAudioMicIds(const Msg& message, std::vector<std::string>& ids);

inline constexpr long kMaxMicIds = 4096;
