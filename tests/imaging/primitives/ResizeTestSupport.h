#pragma once
// Fixtures of the resize tests: buffers flush against inaccessible pages, and
// images of any sample type and layout described as plain numbers.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "imaging/primitives/PrimitiveTypes.h"

namespace resize_test {

// bytes of memory whose first (Flush::Start) or last (Flush::End) byte
// touches an inaccessible page: a read one byte outside faults.
class GuardedBuffer {
public:
    enum class Flush { Start, End };
    GuardedBuffer(std::size_t bytes, Flush flush) : bytes_(bytes)
    {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t body = (bytes + page - 1) / page * page;
        total_ = body + 2 * page;
        void* map = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        base_ = static_cast<std::uint8_t*>(map);
        mprotect(base_, page, PROT_NONE);
        mprotect(base_ + page + body, page, PROT_NONE);
        data_ = flush == Flush::Start ? base_ + page : base_ + page + body - bytes;
    }
    ~GuardedBuffer() { munmap(base_, total_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return bytes_; }

private:
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
    std::size_t total_ = 0;
    std::size_t bytes_ = 0;
};

// The data descriptions of the drivers.
struct Layout {
    const char* name;
    std::int32_t stride;  // samples per pixel in memory
    std::int32_t layout;  // channels processed
    bool planar;
    int Planes() const { return planar ? (layout == 4 ? 4 : 3) : 1; }
    int SamplesPerPixel() const { return planar ? 1 : stride; }
    int Channels() const { return planar ? 1 : layout; }
};

inline const Layout kLayouts[] = {
    {"C1", 1, 1, false}, {"C3", 3, 3, false}, {"AC4", 4, 3, false}, {"C4", 4, 4, false},
    {"P3", 1, 3, true},  {"P4", 1, 4, true},
};

inline int BytesOf(std::int32_t sampleType)
{
    return sampleType == 0 ? 1 : (sampleType == 1 ? 2 : 4);
}

inline double ReadSample(const std::uint8_t* p, std::int32_t sampleType)
{
    switch (sampleType) {
    case 0:
        return *p;
    case 1: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    default: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

inline void WriteSample(std::uint8_t* p, std::int32_t sampleType, double value)
{
    if (sampleType == 0) {
        *p = static_cast<std::uint8_t>(value);
    } else if (sampleType == 1) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(p, &v, 2);
    } else {
        const auto v = static_cast<float>(value);
        std::memcpy(p, &v, 4);
    }
}

// One image: planes of rows, each row step bytes apart; with a negative step
// the plane pointer is the top row, which lies at the end of its storage.
struct Planes {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t step = 0;  // bytes, signed
    std::int32_t sampleType = 0;
    int samplesPerPixel = 1;
    std::vector<std::vector<std::uint8_t>> storage;
    std::vector<std::uint8_t*> pointers;

    Planes() = default;
    Planes(std::int32_t w, std::int32_t h, std::int32_t type, int spp, int planes, int padBytes, bool bottomUp)
        : width(w), height(h), sampleType(type), samplesPerPixel(spp)
    {
        const std::int32_t rowBytes = w * spp * BytesOf(type) + padBytes;
        step = bottomUp ? -rowBytes : rowBytes;
        for (int p = 0; p < planes; ++p) {
            storage.emplace_back(static_cast<std::size_t>(rowBytes) * h);
            pointers.push_back(storage.back().data() + (bottomUp ? static_cast<std::size_t>(rowBytes) * (h - 1) : 0));
        }
    }
    std::uint8_t* At(int plane, int x, int y, int c)
    {
        return pointers[plane] + static_cast<std::ptrdiff_t>(y) * step + (x * samplesPerPixel + c) * BytesOf(sampleType);
    }
    double Get(int plane, int x, int y, int c) { return ReadSample(At(plane, x, y, c), sampleType); }
    void Set(int plane, int x, int y, int c, double v) { WriteSample(At(plane, x, y, c), sampleType, v); }
};

// The destination extent rule, written out for the tests.
inline std::int32_t ExpectedExtent(std::int32_t region, double factor, std::int32_t given)
{
    const double r = region * factor + 0.0000001;
    if (r >= given)
        return given;
    if (static_cast<std::int32_t>(r) > 0)
        return static_cast<std::int32_t>(r);
    return r < 0.5 ? 0 : 1;
}

}  // namespace resize_test
