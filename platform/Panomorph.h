#pragma once
// The panomorph lens library's 3D camera, as the dewarper uses it, and the
// fisheye image-circle calibration. Neither library exists on Linux: the
// camera made by CreateCamera3D refuses every lens (so the dewarper falls
// back to its own meshes), and DoFisheyeCalibrate is a small version of our
// own that finds the lit disc of the frame.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform::panomorph {

// An image the library reads or writes; pitch in pixels.
struct Buffer {
    int width = 0;
    int height = 0;
    int offsetX = 0;
    int offsetY = 0;
    int pitch = 0;
    int rows = 0;
    std::uint8_t* data = nullptr;
};

// A model vertex: position, then the texture point in pixels of the input.
struct Vertex {
    float x, y, z, u, v;
};

// Every call answers 0 on success. The model arrays stay valid until the
// camera is destroyed.
class ICamera3D {
public:
    virtual ~ICamera3D() {}
    virtual int SetLens(const std::string& code) = 0;
    virtual int SetVideoParams(const Buffer& input, const Buffer& output, int format, int flags, int mount) = 0;
    virtual int GetACS() = 0;
    virtual int GetPTZ3DModel(const Vertex*& vertices, int& vertexCount, const unsigned*& indices,
                              int& indexCount) = 0;
    // indices2 may be null; both lists have indexCount entries.
    virtual int GetPerimetric3DModel(const Vertex*& vertices, int& vertexCount, const unsigned*& indices1,
                                     const unsigned*& indices2, int& indexCount) = 0;
};

std::unique_ptr<ICamera3D> CreateCamera3D();
// Replaces the camera maker (tests); an empty function restores the stand-in.
void SetCamera3DFactory(std::function<std::unique_ptr<ICamera3D>()> factory);

// Finds the image circle of an 8-bit grey fisheye frame: the bounding box of
// the pixels of grey 20 and up. centre x, y relative to the image (0..1);
// radius in pixels (half the larger side of the box); error 0 on success, 1
// when nothing is lit or the arguments are unusable.
void DoFisheyeCalibrate(int width, int height, int bytesPerLine, int flags, const std::uint8_t* pixels,
                        double* centreX, double* centreY, double* radius, int* error);

}  // namespace platform::panomorph
