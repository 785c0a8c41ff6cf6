#pragma once
// Helpers to run a primitive in every processor slot this machine supports and
// to restore the process-wide slot afterwards.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/primitives/CpuDispatch.h"

namespace primitives_test {

// Sets the slot for the lifetime of the guard (slot 0 is the portable path).
class ScopedCpuVariant {
public:
    explicit ScopedCpuVariant(std::int32_t slot) : saved_(CpuVariantIndex.load()) { ok_ = SetCpuVariantIndex(slot); }
    ~ScopedCpuVariant() { CpuVariantIndex.store(saved_); }
    ScopedCpuVariant(const ScopedCpuVariant&) = delete;
    ScopedCpuVariant& operator=(const ScopedCpuVariant&) = delete;
    bool ok() const { return ok_; }

private:
    std::int32_t saved_;
    bool ok_ = false;
};

inline std::vector<std::int32_t> SupportedSlots()
{
    std::vector<std::int32_t> slots;
    for (std::int32_t s = 0; s < kCpuVariantCount; ++s)
        if (IsCpuVariantSupported(s))
            slots.push_back(s);
    return slots;
}

inline std::string SlotName(std::int32_t slot)
{
    return "slot " + std::to_string(slot) + " (" + CpuVariantCode(slot) + ")";
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// First differing offset as text, or "" when equal.
inline std::string FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size())
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " + std::to_string(b[i]);
    return "";
}

// Runs `produce` (which returns the bytes it wrote) on the portable path, then
// in every slot this machine supports, and expects each slot's bytes to equal
// the portable ones; `label` names the case in a failure.
template <typename Produce>
void ExpectEverySlotGivesThePortableBytes(Produce produce, const std::string& label)
{
    std::vector<std::uint8_t> reference;
    {
        ScopedCpuVariant portable(0);
        reference = produce();
    }
    for (std::int32_t slot : SupportedSlots()) {
        ScopedCpuVariant variant(slot);
        EXPECT_EQ(FirstDifference(produce(), reference), "") << SlotName(slot) << label;
    }
}

}  // namespace primitives_test
