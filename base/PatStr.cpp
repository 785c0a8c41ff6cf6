#include "base/PatStr.h"

#include <cstring>
#include <stdexcept>

CPatStr::CPatStr(const uint8_t* pattern, int32_t length) : m_length(length)
{
    if (!pattern || length < 1 || length > 255)
        throw std::invalid_argument("CPatStr: pattern length must be 1 to 255");
    const size_t size = 256u * static_cast<size_t>(m_length);
    m_table.reset(new uint8_t[size]);
    std::memset(m_table.get(), 0, size);
    for (int32_t i = 0; i < m_length; ++i)
        m_table[static_cast<size_t>(pattern[i]) * static_cast<size_t>(m_length) +
                static_cast<size_t>(i)] = static_cast<uint8_t>(i + 1);
}

CPatStr::~CPatStr() = default;

int64_t CPatStr::FindEnd(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        if (Feed(data[i]))
            return static_cast<int64_t>(i + 1);
    return -1;
}
