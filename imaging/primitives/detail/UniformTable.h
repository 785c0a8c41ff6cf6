#pragma once
// A dispatch table whose six slots hold one entry: the primitives whose
// portable body is also their fastest.

#include "imaging/primitives/CpuDispatch.h"

namespace primitives_detail {

template <typename Function>
constexpr CpuDispatchTable<Function> UniformTable(Function* entry)
{
    return {entry, entry, entry, entry, entry, entry};
}

inline std::uint8_t ClampByte(int value)
{
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace primitives_detail
