#pragma once

// The frames readers' file: a read-only platform::File that keeps its
// position in memory and serves small reads from a read-ahead block, so that
// reading a frame record (a handful of small field reads and a body read)
// costs one or two positional reads instead of a system call per field.
// Large reads past the block go straight to the file.

#include "platform/File.h"

#include <cstdint>
#include <memory>

class FramesReaderFile : public platform::File {
public:
    // blockSize: the most read ahead at once (reached while reading on
    // through the file; after a jump 16 KiB are read, then twice as much at
    // each refill).
    explicit FramesReaderFile(std::size_t blockSize = 16 * 1024);

    bool Open(const std::string& path, unsigned openFlags, platform::FileException* error = nullptr) override;
    // Opens `name` in the folder open as dirFd for reading, with `length` as
    // its length: the size a listing of that folder has just given, so the
    // file is not asked again. `path` names it in errors. As Open otherwise
    // (a folder found there fails on its first read instead).
    bool OpenAt(int dirFd, const std::string& name, const std::string& path, std::uint64_t length,
                platform::FileException* error = nullptr);
    std::size_t Read(void* buffer, std::size_t count) override;
    std::uint64_t Seek(std::int64_t offset, unsigned from) override;
    std::uint64_t GetPosition() const override { return m_pos; }
    std::uint64_t GetLength() const override { return m_length; }
    void Close() override;
    void Abort() override;

    // The bytes at offset, through the read-ahead block, without moving the
    // read position; the block is refilled from the read position when that
    // covers them too, so a read that follows finds its bytes there. Returns
    // how many bytes were read, as ReadAt.
    std::size_t PeekAt(std::uint64_t offset, void* buffer, std::size_t count);

    // Takes over other's open file (other is left closed); this one's own
    // file, if any, is closed first.
    void Adopt(FramesReaderFile& other);

    // Forgets the read-ahead block and takes the file's length again (for a
    // file that may have changed since it was opened).
    void Refresh();

    // Writing is not offered.
    void Write(const void*, std::size_t) override;
    void SetLength(std::uint64_t) override;

private:
    static constexpr std::size_t kJumpFill = 16 * 1024;

    void Reset();
    void Fill(std::uint64_t from);

    // Allocated at the first fill and grown with the fills, never cleared:
    // a file opened for a few small reads costs no large block.
    std::unique_ptr<std::uint8_t[]> m_block;
    std::size_t m_blockCapacity = 0; // bytes allocated in m_block
    std::size_t m_blockSize;         // the most read ahead at once
    std::uint64_t m_blockStart = 0; // file offset of m_block[0]
    std::size_t m_blockFill = 0;    // valid bytes in m_block
    std::size_t m_fillSize = 0;     // bytes asked for by the last fill
    std::uint64_t m_pos = 0;
    std::uint64_t m_length = 0;
};
