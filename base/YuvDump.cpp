#include "base/YuvDump.h"

#include <boost/format.hpp>

YuvDumper::~YuvDumper()
{
    if (m_file)
        std::fclose(m_file);
}

void YuvDumper::DumpYuvFrame(const uint8_t* data, int width, int height, int chromaA, int chromaB)
{
    if (m_file == nullptr || width != m_width || height != m_height || chromaA != m_chromaA ||
        chromaB != m_chromaB) {
        const std::string chunk = (boost::format("chunk-%1%") % m_counter).str();
        const std::string name =
            (boost::format("%1%x%2%_%3%%4%_%5%.yuv") % width % height % chromaA % chromaB % chunk).str();
        std::FILE* next = std::fopen(name.c_str(), "wb");
        if (m_file)
            std::fclose(m_file);
        m_file = next;
        m_name = next ? name : std::string();
        m_width = width;
        m_height = height;
        m_chromaA = chromaA;
        m_chromaB = chromaB;
        ++m_counter;
    }
    if (m_file == nullptr || data == nullptr || width <= 0 || height <= 0)
        return;
    uint64_t size = uint64_t(width) * uint64_t(height);
    if (chromaA > 0 && chromaB > 0)
        size += uint64_t(width) * uint64_t(height) * 2 / uint64_t(int64_t(chromaA) * chromaB);
    std::fwrite(data, 1, size_t(size), m_file);
    std::fflush(m_file);
}
