// Debug dump of raw YUV pictures: every picture is appended to a file named
// after its geometry ("<w>x<h>_<a><b>_chunk-<n>.yuv" in the current folder);
// a change of geometry starts the next file. A file that cannot be opened is
// simply not written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class YuvDumper
{
public:
    YuvDumper() = default;
    ~YuvDumper();
    YuvDumper(const YuvDumper&) = delete;
    YuvDumper& operator=(const YuvDumper&) = delete;

    // Writes width x height luma bytes, plus width x height x 2 / (a x b)
    // chroma bytes when both chroma values are positive (a grey picture
    // passes 0, 0).
    void DumpYuvFrame(const uint8_t* data, int width, int height, int chromaA, int chromaB);

    // The name of the file being written ("" when none is open).
    const std::string& CurrentFile() const { return m_name; }

private:
    std::FILE* m_file = nullptr;
    std::string m_name;
    int m_width = 0;
    int m_height = 0;
    int m_chromaA = 0;
    int m_chromaB = 0;
    int m_counter = 0;
};
