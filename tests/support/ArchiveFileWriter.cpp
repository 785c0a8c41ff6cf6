#include "support/ArchiveFileWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/TempDir.h"

namespace testsupport {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put64(std::vector<uint8_t>& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

bool RunFfmpeg(const std::string& args)
{
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

} // namespace

LocalStamp LocalStampOf(int64_t unixMs)
{
    const time_t seconds = static_cast<time_t>(unixMs / 1000);
    std::tm tm{};
    localtime_r(&seconds, &tm);
    LocalStamp s;
    s.year = static_cast<uint16_t>(tm.tm_year + 1900);
    s.month = static_cast<uint16_t>(tm.tm_mon + 1);
    s.day = static_cast<uint16_t>(tm.tm_mday);
    s.hour = static_cast<uint16_t>(tm.tm_hour);
    s.minute = static_cast<uint16_t>(tm.tm_min);
    s.second = static_cast<uint16_t>(tm.tm_sec);
    s.millisecond = static_cast<uint32_t>(unixMs % 1000);
    return s;
}

std::vector<uint8_t> MakeTaggedFrame(const std::vector<uint8_t>& payload, const char tag[4], bool keyByte)
{
    std::vector<uint8_t> data = payload;
    data.push_back(keyByte ? 1 : 0);
    data.insert(data.end(), tag, tag + 4);
    return data;
}

std::vector<uint8_t> MakeH264Frame(const std::vector<uint8_t>& annexB, bool key)
{
    return MakeTaggedFrame(annexB, "H264", key);
}

std::vector<uint8_t> MakeMjpegFrame(const std::vector<uint8_t>& jpeg)
{
    std::vector<uint8_t> data = jpeg;
    data.insert(data.end(), {'J', 'P', 'E', 'G'});
    return data;
}

// Record: i32 header (-1, or 0 without subtitle part), 16-byte local stamp,
// i32 delay, frame number, total frames, colour word, width, height, format,
// u32 size, data, then (header -1 only) i32 subtitle length and its bytes.
std::vector<uint8_t> EncodeFrameRecord(const ArchiveFrame& frame)
{
    std::vector<uint8_t> out;
    out.reserve(56 + frame.data.size() + frame.subtitles.size());
    Put32(out, frame.subtitlePart ? 0xFFFFFFFFu : 0u);
    const LocalStamp s = LocalStampOf(frame.unixMs);
    Put16(out, s.year);
    Put16(out, s.month);
    Put16(out, s.day);
    Put16(out, s.hour);
    Put16(out, s.minute);
    Put16(out, s.second);
    Put32(out, s.millisecond);
    Put32(out, 0);          // delay
    Put32(out, 0);          // frame number
    Put32(out, 0);          // total frames
    Put32(out, 1);          // colour 1, bias word 0 (keep the reader's bias)
    Put32(out, 160);        // width
    Put32(out, 120);        // height
    Put32(out, 1);          // compressed
    Put32(out, static_cast<uint32_t>(frame.data.size()));
    Append(out, frame.data);
    if (frame.subtitlePart) {
        Put32(out, static_cast<uint32_t>(frame.subtitles.size()));
        out.insert(out.end(), frame.subtitles.begin(), frame.subtitles.end());
    }
    return out;
}

std::vector<uint8_t> EncodePortableInteger(int64_t value)
{
    if (value == 0)
        return {0};
    const bool negative = value < 0;
    uint64_t m = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::vector<uint8_t> out{0};
    while (m != 0) {
        out.push_back(static_cast<uint8_t>(m));
        m >>= 8;
    }
    const int n = static_cast<int>(out.size() - 1);
    out[0] = static_cast<uint8_t>(negative ? 0x100 - n : n);
    return out;
}

std::vector<uint8_t> EncodePortableIndexBlob(const std::vector<StoredEntry>& entries, uint8_t flagsByte)
{
    const bool bigEndian = (flagsByte & 0x40) != 0;
    auto integer = [bigEndian](int64_t v) {
        auto bytes = EncodePortableInteger(v);
        if (bigEndian)
            std::reverse(bytes.begin() + 1, bytes.end());
        return bytes;
    };
    std::vector<uint8_t> out;
    Append(out, integer(22));
    const char* sig = "serialization::archive";
    out.insert(out.end(), sig, sig + 22);
    Append(out, integer(9));
    out.push_back(flagsByte);
    out.push_back(0); // list tracking
    out.push_back(0); // list class version
    Append(out, integer(static_cast<int64_t>(entries.size())));
    out.push_back(0); // item version
    if (!entries.empty()) {
        out.push_back(0);
        out.push_back(0);
    }
    for (const auto& e : entries) {
        Append(out, integer(static_cast<int64_t>(e.time)));
        Append(out, integer(static_cast<int64_t>(e.offset)));
        out.push_back(e.key ? 1 : 0);
    }
    return out;
}

std::vector<uint8_t> EncodeBinaryIndexBlob(const std::vector<StoredEntry>& entries)
{
    std::vector<uint8_t> out;
    Put64(out, 22);
    const char* sig = "serialization::archive";
    out.insert(out.end(), sig, sig + 22);
    out.push_back(9); // library version
    out.push_back(0);
    out.insert(out.end(), {4, 4, 4, 8});
    Put32(out, 1);  // byte order
    out.push_back(0); // list tracking
    Put32(out, 0);    // list class version
    Put64(out, entries.size());
    Put32(out, 0);    // item version
    if (!entries.empty()) {
        out.push_back(0);
        Put32(out, 0);
    }
    for (const auto& e : entries) {
        Put64(out, e.time);
        Put64(out, e.offset);
        out.push_back(e.key ? 1 : 0);
    }
    return out;
}

uint32_t ReferenceArchiveCrc(const uint8_t* data, size_t size)
{
    // Bitwise form of the reflected CRC with a zero register and no final
    // inversion (the product uses a table).
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

std::array<uint8_t, 16> EncodeIndexTrailer(int32_t blobLength, int32_t storedType, bool badChecksum)
{
    std::vector<uint8_t> out;
    Put32(out, static_cast<uint32_t>(blobLength));
    Put32(out, static_cast<uint32_t>(storedType));
    Put32(out, 0xFAFAFAFAu);
    uint32_t crc = ReferenceArchiveCrc(out.data(), 12);
    if (badChecksum)
        crc += 1;
    Put32(out, crc);
    std::array<uint8_t, 16> t{};
    std::copy(out.begin(), out.end(), t.begin());
    return t;
}

std::vector<uint8_t> BuildArchiveFile(const std::vector<ArchiveFrame>& frames, const ArchiveFileOptions& options,
                                      std::vector<StoredEntry>* entriesOut)
{
    std::vector<uint8_t> file;
    if (options.archiveId) {
        Put32(file, 0x0000FFFFu);
        Put32(file, static_cast<uint32_t>(*options.archiveId));
    }
    std::vector<StoredEntry> entries;
    for (const auto& frame : frames) {
        entries.push_back({static_cast<uint64_t>(frame.unixMs), file.size(), frame.key});
        Append(file, EncodeFrameRecord(frame));
    }
    if (entriesOut)
        *entriesOut = entries;
    if (options.index != IndexForm::None) {
        std::vector<StoredEntry> stored = entries;
        for (auto& e : stored)
            e.time = static_cast<uint64_t>(static_cast<int64_t>(e.time) + options.indexTimeShiftMs);
        std::vector<uint8_t> blob = options.index == IndexForm::Portable ? EncodePortableIndexBlob(stored)
                                                                         : EncodeBinaryIndexBlob(stored);
        if (options.editBlob)
            options.editBlob(blob);
        Append(file, blob);
        const int32_t type = options.storedType.value_or(options.index == IndexForm::Portable ? 2 : 1);
        const auto trailer = EncodeIndexTrailer(options.blobLength.value_or(static_cast<int32_t>(blob.size())), type,
                                                options.badChecksum);
        file.insert(file.end(), trailer.begin(), trailer.end());
    }
    Put32(file, options.frameCount.value_or(static_cast<uint32_t>(frames.size())));
    file.push_back(options.closeFlag);
    return file;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    return gavex_test::ReadFileBytes(path);
}

std::vector<ArchiveFrame> MakeSyntheticFrames(size_t count, int64_t startUnixMs, int64_t stepMs, size_t gop,
                                              size_t payloadSize)
{
    std::vector<ArchiveFrame> frames;
    frames.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        ArchiveFrame f;
        f.unixMs = startUnixMs + static_cast<int64_t>(i) * stepMs;
        f.key = gop == 0 || i % gop == 0;
        std::vector<uint8_t> payload(payloadSize);
        for (size_t b = 0; b < payloadSize; ++b)
            payload[b] = static_cast<uint8_t>(i * 31 + b);
        f.data = MakeH264Frame(payload, f.key);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<ArchiveFrame> GenerateH264Frames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                             int64_t stepMs, int gop)
{
    return GenerateH264Frames(workDir, frameCount, startUnixMs, stepMs, gop, H264Picture{});
}

std::vector<ArchiveFrame> GenerateH264Frames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                             int64_t stepMs, int gop, const H264Picture& picture)
{
    const std::string out = workDir + "/testsrc.h264";
    const std::string args = "-f lavfi -i testsrc=size=" + std::to_string(picture.width) + "x"
        + std::to_string(picture.height) + ":rate=" + std::to_string(picture.rate) + " -frames:v "
        + std::to_string(frameCount) + " -c:v libx264 -preset ultrafast -g " + std::to_string(gop)
        + " -x264-params aud=1:scenecut=0" + (picture.headersOnEveryKey ? ":repeat-headers=1" : "")
        + " -bsf:v h264_mp4toannexb -f h264 " + out;
    if (!RunFfmpeg(args))
        return {};
    const std::vector<uint8_t> stream = gavex_test::ReadFileBytes(out);

    // Split at access unit delimiters (NAL type 9); a unit holding an IDR
    // slice (NAL type 5) is a key frame.
    std::vector<size_t> starts;
    for (size_t i = 0; i + 4 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 0 && stream[i + 3] == 1
            && (stream[i + 4] & 0x1F) == 9)
            starts.push_back(i);
    }
    starts.push_back(stream.size());
    std::vector<ArchiveFrame> frames;
    for (size_t u = 0; u + 1 < starts.size(); ++u) {
        std::vector<uint8_t> unit(stream.begin() + static_cast<long>(starts[u]),
                                  stream.begin() + static_cast<long>(starts[u + 1]));
        bool idr = false;
        for (size_t i = 0; i + 3 < unit.size(); ++i) {
            if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && (unit[i + 3] & 0x1F) == 5) {
                idr = true;
                break;
            }
        }
        ArchiveFrame f;
        f.unixMs = startUnixMs + static_cast<int64_t>(frames.size()) * stepMs;
        f.key = idr;
        f.data = MakeH264Frame(unit, idr);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<ArchiveFrame> GenerateMjpegFrames(const std::string& workDir, int frameCount, int64_t startUnixMs,
                                              int64_t stepMs)
{
    const std::string pattern = workDir + "/mjpeg%04d.jpg";
    const std::string args = "-f lavfi -i testsrc=size=160x120:rate=5 -frames:v " + std::to_string(frameCount)
        + " -c:v mjpeg -f image2 " + pattern;
    if (!RunFfmpeg(args))
        return {};
    std::vector<ArchiveFrame> frames;
    for (int i = 1; i <= frameCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/mjpeg%04d.jpg", i);
        const auto jpeg = gavex_test::ReadFileBytes(workDir + name);
        if (jpeg.empty())
            break;
        ArchiveFrame f;
        f.unixMs = startUnixMs + static_cast<int64_t>(i - 1) * stepMs;
        f.key = true;
        f.data = MakeMjpegFrame(jpeg);
        frames.push_back(std::move(f));
    }
    return frames;
}

ArchiveTempDir::ArchiveTempDir()
{
    std::error_code ec;
    if (!std::filesystem::is_directory(m_dir.path(), ec))
        throw std::runtime_error("cannot create a temporary folder");
}

} // namespace testsupport
