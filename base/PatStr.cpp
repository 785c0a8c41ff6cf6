#include "base/PatStr.h"

#include <cstring>
#include <stdexcept>

CPatStr::CPatStr(const uint8_t* pattern, int32_t length) : m_length(length)
{
    if (!pattern || length < 1 || length > 255)
        throw std::invalid_argument("CPatStr: pattern length must be 1 to 255");
    const size_t width = static_cast<size_t>(m_length);
    m_table.reset(new uint8_t[256u * width]);
    // A full matching automaton: a byte that breaks a partial match moves to
    // the longest prefix of the pattern that still ends at that byte, so
    // overlapping starts are found with one look-up per byte. `fallback` is
    // the state the automaton would be in had the first pattern byte of the
    // current partial match never been seen.
    auto at = [&](size_t value, size_t state) -> uint8_t& { return m_table[value * width + state]; };
    for (size_t v = 0; v < 256; ++v)
        at(v, 0) = 0;
    at(pattern[0], 0) = 1;
    size_t fallback = 0;
    for (size_t s = 1; s < width; ++s) {
        for (size_t v = 0; v < 256; ++v)
            at(v, s) = at(v, fallback);
        at(pattern[s], s) = static_cast<uint8_t>(s + 1);
        fallback = at(pattern[s], fallback);
    }
}

CPatStr::~CPatStr() = default;

int64_t CPatStr::FindEnd(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (Feed(data[i]))
            return static_cast<int64_t>(i + 1);
    return -1;
}
