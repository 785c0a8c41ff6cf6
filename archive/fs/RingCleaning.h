#pragma once
// Ring cleaning (making room on a full record volume by deleting the oldest
// hour of unprotected records) and the age-limited deletion by the cameras'
// retention rules. Both live in FileSystem (RingCleaning.cpp); this header
// holds what they share.

#include <cstdint>

// Whole hours from a record's begin to now, both UTC ms since 1970; 0 for a
// record that begins in the future.
int64_t RecordAgeHours(uint64_t nowUnixMs, uint64_t beginUnixMs);
