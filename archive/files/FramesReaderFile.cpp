#include "archive/files/FramesReaderFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

FramesReaderFile::FramesReaderFile(std::size_t blockSize)
    : m_blockSize(blockSize)
{
}

void FramesReaderFile::Reset()
{
    m_blockStart = 0;
    m_blockFill = 0;
    m_pos = 0;
    m_length = 0;
}

bool FramesReaderFile::Open(const std::string& path, unsigned openFlags, platform::FileException* error)
{
    Reset();
    if (!File::Open(path, openFlags, error))
        return false;
    m_length = File::LengthAtOpen();
    return true;
}

bool FramesReaderFile::OpenAt(int dirFd, const std::string& name, const std::string& path, std::uint64_t length,
                              platform::FileException* error)
{
    Reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
    int fd;
    do {
        fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        if (error)
            *error = platform::FileException(platform::FileException::ErrnoToCause(err), err, path);
        return false;
    }
    m_fd = fd;
    m_lengthKnown = true;
    m_lengthAtOpen = length;
    m_length = length;
    return true;
}

void FramesReaderFile::Adopt(FramesReaderFile& other)
{
    Abort();
    m_fd = other.m_fd;
    m_path = std::move(other.m_path);
    m_length = other.m_length;
    other.m_fd = -1;
    other.Reset();
}

void FramesReaderFile::Refresh()
{
    m_blockStart = 0;
    m_blockFill = 0;
    if (IsOpen())
        m_length = File::GetLength();
}

void FramesReaderFile::Close()
{
    Reset();
    File::Close();
}

void FramesReaderFile::Abort()
{
    Reset();
    File::Abort();
}

std::size_t FramesReaderFile::Read(void* buffer, std::size_t count)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count && m_pos < m_length) {
        if (m_pos >= m_blockStart && m_pos < m_blockStart + m_blockFill) {
            const std::size_t at = static_cast<std::size_t>(m_pos - m_blockStart);
            const std::size_t n = std::min(count - done, m_blockFill - at);
            std::memcpy(out + done, m_block.get() + at, n);
            done += n;
            m_pos += n;
            continue;
        }
        const std::size_t rest = count - done;
        if (rest >= m_blockSize) {
            const std::size_t n = File::ReadAt(m_pos, out + done, rest);
            done += n;
            m_pos += n;
            break;
        }
        Fill(m_pos);
        if (m_blockFill == 0)
            break;
    }
    return done;
}

void FramesReaderFile::Fill(std::uint64_t from)
{
    // Reading on from the last block (or a little past it) reads twice as
    // much as last time, up to the whole block; a jump elsewhere starts again
    // at kJumpFill bytes. So a seek costs little while a walk through the
    // file soon costs few system calls.
    const bool onward = m_blockFill != 0 && from >= m_blockStart + m_blockFill
        && from <= m_blockStart + m_blockFill + m_blockSize;
    const std::size_t size = std::min(m_blockSize, onward ? 2 * m_fillSize : kJumpFill);
    if (m_blockCapacity < size) {
        m_blockFill = 0;
        m_block.reset(new std::uint8_t[size]);
        m_blockCapacity = size;
    }
    m_fillSize = size;
    m_blockStart = from;
    m_blockFill = 0;
    m_blockFill = File::ReadAt(from, m_block.get(), size);
}

std::size_t FramesReaderFile::PeekAt(std::uint64_t offset, void* buffer, std::size_t count)
{
    const auto inBlock = [&] { return offset >= m_blockStart && offset + count <= m_blockStart + m_blockFill; };
    if (!inBlock()) {
        if (count > m_blockSize)
            return File::ReadAt(offset, buffer, count);
        const std::size_t least = std::min(m_blockSize, kJumpFill);
        Fill(offset >= m_pos && offset + count <= m_pos + least ? m_pos : offset);
        if (offset < m_blockStart || offset >= m_blockStart + m_blockFill)
            return 0;
    }
    const std::size_t at = static_cast<std::size_t>(offset - m_blockStart);
    const std::size_t n = std::min(count, m_blockFill - at);
    std::memcpy(buffer, m_block.get() + at, n);
    return n;
}

std::uint64_t FramesReaderFile::Seek(std::int64_t offset, unsigned from)
{
    std::int64_t base = 0;
    if (from == current)
        base = static_cast<std::int64_t>(m_pos);
    else if (from == end)
        base = static_cast<std::int64_t>(m_length);
    const std::int64_t target = base + offset;
    if (target < 0)
        platform::FileException::Throw(platform::FileException::badSeek, EINVAL, m_path);
    m_pos = static_cast<std::uint64_t>(target);
    return m_pos;
}

void FramesReaderFile::Write(const void*, std::size_t)
{
    platform::FileException::Throw(platform::FileException::accessDenied, EBADF, m_path);
}

void FramesReaderFile::SetLength(std::uint64_t)
{
    platform::FileException::Throw(platform::FileException::accessDenied, EBADF, m_path);
}
