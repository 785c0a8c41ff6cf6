#include "platform/Panomorph.h"

#include <algorithm>
#include <mutex>

namespace platform::panomorph {

namespace {

// The library is absent: no lens is known.
class MissingCamera : public ICamera3D {
public:
    int SetLens(const std::string&) override { return -1; }
    int SetVideoParams(const Buffer&, const Buffer&, int, int, int) override { return -1; }
    int GetACS() override { return -1; }
    int GetPTZ3DModel(const Vertex*&, int&, const unsigned*&, int&) override { return -1; }
    int GetPerimetric3DModel(const Vertex*&, int&, const unsigned*&, const unsigned*&, int&) override { return -1; }
};

std::mutex g_factoryLock;
std::function<std::unique_ptr<ICamera3D>()> g_factory;

}  // namespace

std::unique_ptr<ICamera3D> CreateCamera3D()
{
    std::lock_guard<std::mutex> lock(g_factoryLock);
    if (g_factory)
        return g_factory();
    return std::make_unique<MissingCamera>();
}

void SetCamera3DFactory(std::function<std::unique_ptr<ICamera3D>()> factory)
{
    std::lock_guard<std::mutex> lock(g_factoryLock);
    g_factory = std::move(factory);
}

void DoFisheyeCalibrate(int width, int height, int bytesPerLine, int, const std::uint8_t* pixels, double* centreX,
                        double* centreY, double* radius, int* error)
{
    *error = 1;
    if (pixels == nullptr || width < 1 || height < 1 || bytesPerLine < width)
        return;
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * bytesPerLine;
        for (int x = 0; x < width; ++x)
            if (row[x] >= 20) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    if (right < 0)
        return;
    *centreX = (left + right + 1) / 2.0 / width;
    *centreY = (top + bottom + 1) / 2.0 / height;
    *radius = std::max(right - left + 1, bottom - top + 1) / 2.0;
    *error = 0;
}

}  // namespace platform::panomorph
