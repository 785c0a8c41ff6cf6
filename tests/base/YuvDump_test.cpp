// Raw picture dumps: one file per geometry, frames of the layout's size.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "base/YuvDump.h"
#include "support/TempDir.h"

namespace {

// Runs in a scratch folder: the dumps go to the current folder.
class YuvDumpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.path());
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }
    uintmax_t SizeOf(const std::string& name) const
    {
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(m_dir / name, ec);
        return ec ? 0 : size;
    }

    gavex_test::TempDir m_dir{"yuvdump"};
    std::filesystem::path m_previous;
};

} // namespace

TEST_F(YuvDumpTest, EachGeometryStartsTheNextFile)
{
    std::vector<uint8_t> picture(640 * 480 * 2, 0x55);
    {
        YuvDumper dumper;
        dumper.DumpYuvFrame(picture.data(), 640, 480, 2, 2);
        dumper.DumpYuvFrame(picture.data(), 640, 480, 2, 2);
        EXPECT_EQ(dumper.CurrentFile(), "640x480_22_chunk-0.yuv");
        EXPECT_EQ(SizeOf("640x480_22_chunk-0.yuv"), 2u * 460800u);
        dumper.DumpYuvFrame(picture.data(), 640, 480, 2, 1);
        EXPECT_EQ(SizeOf("640x480_21_chunk-1.yuv"), 614400u);
        dumper.DumpYuvFrame(picture.data(), 320, 240, 0, 0); // grey: luma only
        EXPECT_EQ(SizeOf("320x240_00_chunk-2.yuv"), 76800u);
    }
    // Every file is complete once the dumper is gone.
    EXPECT_EQ(SizeOf("640x480_22_chunk-0.yuv"), 921600u);

    // A new dumper counts from 0 again and replaces the file.
    YuvDumper again;
    again.DumpYuvFrame(picture.data(), 640, 480, 2, 2);
    EXPECT_EQ(SizeOf("640x480_22_chunk-0.yuv"), 460800u);
}

TEST_F(YuvDumpTest, AFileThatCannotBeOpenedIsNotWritten)
{
    std::filesystem::create_directory(m_dir / "640x480_22_chunk-0.yuv");
    std::vector<uint8_t> picture(640 * 480 * 2, 0x55);
    YuvDumper dumper;
    dumper.DumpYuvFrame(picture.data(), 640, 480, 2, 2);
    EXPECT_EQ(dumper.CurrentFile(), "");
    // The next geometry gets its file.
    dumper.DumpYuvFrame(picture.data(), 640, 480, 2, 1);
    EXPECT_EQ(SizeOf("640x480_21_chunk-1.yuv"), 614400u);
}
