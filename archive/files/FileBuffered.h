#pragma once
// The disk file the recorder writes archive video into. With its block buffer
// on (registry MemFile missing or -1) written bytes collect in a memory block
// that goes to the disk in one write once it holds the block size
// (WriteBufferSize MiB, 1..32), under a lock shared by all writers of one
// archive engine so their block writes reach the disks one at a time. With
// the buffer off it is a plain platform::File.
//
// A block whose disk write failed stays pending and is written again, from
// the file position where it began, before any further data is taken: a
// partial write is overwritten, never duplicated. Write throws only when its
// data was not taken (the pending block failed again); a block that fails
// after the data was taken keeps it and the error surfaces at the next Write,
// Flush or Close.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/File.h"

namespace qormisc {
class SyncObject;
}

class CFileBuffered : public platform::File {
public:
    // The block size and mode come from SOFTWARE\QOR\Vindara\Video.
    explicit CFileBuffered(qormisc::SyncObject* writeLock);
    // Explicit settings (tests and benchmarks): the texts as the registry
    // would give them ("" = missing).
    CFileBuffered(qormisc::SyncObject* writeLock, const std::string& writeBufferSize, const std::string& memFile);
    ~CFileBuffered() override;

    // Starts with an empty block and a total of 0.
    bool Open(const std::string& path, unsigned openFlags, platform::FileException* error = nullptr) override;
    void Write(const void* buffer, std::size_t count) override;
    // Buffered: the bytes taken since the file was opened.
    std::uint64_t GetPosition() const override;
    // Buffered: only the current position (which is also the end) is
    // accepted, as a no-op; anything else throws badSeek, since taken bytes
    // cannot be moved.
    std::uint64_t Seek(std::int64_t offset, unsigned from) override;
    // Writes the pending block (if any) and starts an empty one.
    void Flush() override;
    // Writes the pending block, then closes; the total is reset either way.
    void Close() override;

    // Closes without writing what the block still holds; errors are logged
    // and swallowed. The file counts as closed afterwards.
    static void ForceClose(platform::File& file);

    // Puts as much of the block on the disk as fits (from where it begins),
    // then writes straight to the disk until the file is closed. Used to
    // repair a file whose block could not be written; returns the bytes of
    // the block that reached the disk.
    std::size_t SalvageBlock();

    bool IsBuffered() const { return m_buffering; }
    uint32_t GetBlockSize() const { return m_blockSize; }
    // Whether any data went through the block since the file was opened.
    bool BlockUsed() const { return m_used; }

protected:
    // Every disk write (a block, or a write of the unbuffered file); tests
    // replace it to inject failures.
    virtual void WriteToDisk(const void* data, std::size_t count);

private:
    void Configure(const std::string& writeBufferSize, const std::string& memFile);
    void FlushBlock();

    qormisc::SyncObject* m_writeLock;
    bool m_buffering = false;
    uint32_t m_blockSize = 0x100000;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::size_t m_capacity = 0;
    std::size_t m_fill = 0;         // bytes in the block not yet on disk
    bool m_pending = false;         // the block failed to reach the disk
    std::uint64_t m_blockStart = 0; // disk position where the pending block begins
    std::uint64_t m_total = 0;
    bool m_used = false;
    bool m_direct = false;  // DropBlock: plain file until closed
};
