#include "archive/files/FileBuffered.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Locks.h"
#include "base/Log.h"
#include "base/Registry.h"

namespace {

constexpr uint32_t kMinBlock = 0x100000;
constexpr uint32_t kMaxBlock = 0x2000000;

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

}  // namespace

CFileBuffered::CFileBuffered(qormisc::SyncObject* writeLock) : m_writeLock(writeLock) {
    RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video");
    Configure(key.ReadString("WriteBufferSize", "", 32), key.ReadString("MemFile", "", 32));
}

CFileBuffered::CFileBuffered(qormisc::SyncObject* writeLock, const std::string& writeBufferSize,
                             const std::string& memFile)
    : m_writeLock(writeLock) {
    Configure(writeBufferSize, memFile);
}

void CFileBuffered::Configure(const std::string& writeBufferSize, const std::string& memFile) {
    const long megabytes = writeBufferSize.empty() ? 1 : std::strtol(writeBufferSize.c_str(), nullptr, 10);
    // 32-bit product, clamped as an unsigned number.
    m_blockSize = static_cast<uint32_t>(megabytes) * 1048576u;
    m_buffering = memFile.empty() || std::strtol(memFile.c_str(), nullptr, 10) == -1;
    Log()->Message("[CFileBuffered][MemFile] m_use = %s.", m_buffering ? "true" : "false");
    if (m_buffering) {
        m_blockSize = std::clamp(m_blockSize, kMinBlock, kMaxBlock);
        m_capacity = m_blockSize;
        m_buffer = std::make_unique<uint8_t[]>(m_capacity);
    }
    Log()->Message("[CFileBuffered][WriteBufferSize] m_writeBlockBufferSize = %0.2f MB.",
                   static_cast<double>(m_blockSize) / 1048576.0);
}

CFileBuffered::~CFileBuffered() = default;

bool CFileBuffered::Open(const std::string& path, unsigned openFlags, platform::FileException* error) {
    m_fill = 0;
    m_pending = false;
    m_total = 0;
    m_used = false;
    m_direct = false;
    return platform::File::Open(path, openFlags, error);
}

void CFileBuffered::WriteToDisk(const void* data, std::size_t count) { platform::File::Write(data, count); }

void CFileBuffered::FlushBlock() {
    if (m_fill == 0) return;
    SyncLock lock(m_writeLock);
    if (m_pending) {
        // Start again where the failed write began.
        platform::File::Seek(static_cast<int64_t>(m_blockStart), begin);
    } else {
        m_blockStart = platform::File::GetPosition();
    }
    m_pending = true;
    WriteToDisk(m_buffer.get(), m_fill);
    m_pending = false;
    m_fill = 0;
}

std::size_t CFileBuffered::SalvageBlock() {
    std::size_t done = 0;
    if (m_buffering && !m_direct && m_fill != 0 && IsOpen()) {
        SyncLock lock(m_writeLock);
        const off_t start = m_pending ? static_cast<off_t>(m_blockStart) : ::lseek(m_fd, 0, SEEK_CUR);
        if (start >= 0 && ::lseek(m_fd, start, SEEK_SET) == start) {
            while (done < m_fill) {
                const ssize_t put = ::write(m_fd, m_buffer.get() + done, m_fill - done);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) break;
                done += static_cast<std::size_t>(put);
            }
        }
    }
    m_fill = 0;
    m_pending = false;
    m_direct = true;
    return done;
}

void CFileBuffered::Write(const void* buffer, std::size_t count) {
    if (!m_buffering || m_direct) {
        WriteToDisk(buffer, count);
        return;
    }
    if (m_pending) FlushBlock();  // throws with the new data not taken
    if (m_fill + count > m_capacity) {
        // One block may outgrow the block size; the buffer keeps the larger
        // capacity for later blocks.
        const std::size_t grown = std::max(m_fill + count, m_capacity + m_blockSize);
        auto bigger = std::make_unique<uint8_t[]>(grown);
        if (m_fill) std::memcpy(bigger.get(), m_buffer.get(), m_fill);
        m_buffer = std::move(bigger);
        m_capacity = grown;
    }
    if (count) std::memcpy(m_buffer.get() + m_fill, buffer, count);
    m_fill += count;
    m_total += count;
    m_used = true;
    if (m_fill >= m_blockSize) {
        try {
            FlushBlock();
        } catch (const platform::FileException&) {
            // The data is taken; the block stays pending and its error is
            // raised by the next Write, Flush or Close.
        }
    }
}

std::uint64_t CFileBuffered::GetPosition() const {
    return m_buffering && !m_direct ? m_total : platform::File::GetPosition();
}

std::uint64_t CFileBuffered::Seek(std::int64_t offset, unsigned from) {
    if (!m_buffering || m_direct) return platform::File::Seek(offset, from);
    const bool toCurrent = (from == begin && offset >= 0 && static_cast<uint64_t>(offset) == m_total) ||
                           ((from == current || from == end) && offset == 0);
    if (!toCurrent) platform::FileException::Throw(platform::FileException::badSeek, 0, m_path);
    return m_total;
}

void CFileBuffered::Flush() {
    if (m_buffering && !m_direct) FlushBlock();
}

void CFileBuffered::Close() {
    if (m_buffering && !m_direct && IsOpen()) {
        try {
            FlushBlock();
        } catch (...) {
            m_total = 0;
            throw;
        }
    }
    m_total = 0;
    m_used = false;
    m_direct = false;
    platform::File::Close();
}

void CFileBuffered::ForceClose(platform::File& file) {
    if (auto* buffered = dynamic_cast<CFileBuffered*>(&file)) {
        buffered->m_fill = 0;
        buffered->m_pending = false;
        buffered->m_total = 0;
        buffered->m_used = false;
    }
    try {
        file.platform::File::Close();
    } catch (const platform::FileException& e) {
        QOR_LOG_ERROR(Log(), "[FS] CFileBuffered::ForceClose File: \"%s\" exception \"%s\" [%u]",
                      e.m_strFileName.c_str(), e.GetErrorMessage().c_str(), static_cast<unsigned>(e.m_lOsError));
    } catch (...) {
        QOR_LOG_ERROR(Log(), "[FS] CFileBuffered::ForceClose File: \"%s\" unknown exception", file.GetFileName().c_str());
    }
}
