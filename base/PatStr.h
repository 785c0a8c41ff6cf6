// CPatStr: finds a fixed byte pattern in a byte stream, one table look-up per
// byte. Used to find the marker behind which a portable player carries its
// exported video.
//
//   CPatStr marker(bytes, 54);
//   for (each byte b)
//       if (marker.Feed(b)) { /* the marker ends at b */ marker.Reset(); }
//
// The table holds, for each byte value v and state s (0 <= s < L), at
// v * L + s, the next state: s + 1 when pattern byte s equals v, else the
// length of the longest pattern prefix that ends with the bytes matched so
// far followed by v. A byte that breaks a partial match is thus tried again
// as part of a new one ("AAB" is found in "AAAB").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CPatStr
{
public:
    // Builds the table from the pattern (which is not kept). The table stores
    // states in single bytes, so the length must be 1 to 255; other lengths
    // or a null pattern throw std::invalid_argument.
    CPatStr(const uint8_t* pattern, int32_t length);
    virtual ~CPatStr();

    CPatStr(const CPatStr&) = delete;
    CPatStr& operator=(const CPatStr&) = delete;

    // Moves the state on by one byte; true when the pattern ends at this byte
    // (the state then equals the length until Reset). Feeding on without a
    // Reset after a match starts again from state 0.
    bool Feed(uint8_t byte)
    {
        if (m_state >= m_length)
            m_state = 0;
        m_state = m_table[static_cast<size_t>(byte) * static_cast<size_t>(m_length) +
                          static_cast<size_t>(m_state)];
        return m_state == m_length;
    }
    void Reset() { m_state = 0; }

    int32_t GetState() const { return m_state; }
    int32_t GetLength() const { return m_length; }

    // Offset just after the first complete match in data, starting from the
    // current state; -1 when the data ends first. The state is left as the
    // last byte fed made it (equal to the length after a match).
    int64_t FindEnd(const uint8_t* data, size_t size);

private:
    int32_t m_length;
    int32_t m_state = 0;
    std::unique_ptr<uint8_t[]> m_table;
};
