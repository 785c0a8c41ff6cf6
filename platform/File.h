// Disk and in-memory files with the error model of the archive code.
//
// platform::File is the byte file every archive reader and writer goes
// through; platform::MemFile is the same interface over a byte buffer. Both
// raise platform::FileException on an operating-system failure; the archive
// encoding above them raises platform::ArchiveException. The cause codes keep
// the numbering that the archive code stores and logs.
//
// These classes sit on the hottest read path (every frame record is read
// through them): File is a thin layer over read/pread/lseek with no buffering
// of its own, and MemFile reads straight out of its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Common base of the two exception types, so that code which reports "a file
// or archive error" can catch both at once.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // Human-readable text of the failure (what the log lines quote).
    virtual std::string GetErrorMessage() const { return what(); }
};

class FileException : public Exception {
public:
    enum Cause : int {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    // osError is the errno value behind the failure (0 when there is none).
    FileException(int cause, long osError, std::string fileName);

    // The cause that a given errno value maps to (genericException for the
    // values that have no closer match).
    static int ErrnoToCause(int err);
    // Throws a FileException for errno value err on the given file.
    [[noreturn]] static void ThrowErrno(int err, const std::string& fileName);
    [[noreturn]] static void Throw(int cause, long osError, const std::string& fileName);

    std::string GetErrorMessage() const override;

    int m_cause;
    long m_lOsError;
    std::string m_strFileName;
};

class ArchiveException : public Exception {
public:
    enum Cause : int {
        none = 0,
        genericException = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7,
        bufferFull = 8,
    };

    explicit ArchiveException(int cause, std::string fileName = {});

    [[noreturn]] static void Throw(int cause, const std::string& fileName = {});

    std::string GetErrorMessage() const override;

    int m_cause;
    std::string m_strFileName;
};

// A file on disk. Not copyable; one object is used by one thread at a time
// (ReadAt may be called concurrently on one open file).
class File {
public:
    // Open flags. Only the access mode and the create/truncate bits matter
    // here; share modes, text/binary and the caching hints are accepted and
    // have no effect.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,      // create; truncates unless modeNoTruncate
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        osNoBuffer = 0x10000,
        osWriteThrough = 0x20000,
        osRandomAccess = 0x40000,
        osSequentialScan = 0x80000,
    };
    enum SeekPosition : unsigned { begin = 0, current = 1, end = 2 };

    File();
    // Opens at once; throws FileException on failure.
    File(const std::string& path, unsigned openFlags);
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    // Closes without throwing.
    virtual ~File();

    // Returns false on failure and, when error is given, fills it in.
    virtual bool Open(const std::string& path, unsigned openFlags, FileException* error = nullptr);

    // Reads up to count bytes at the current position; returns the number
    // read (0 at the end of the file). Throws FileException on an I/O error.
    virtual std::size_t Read(void* buffer, std::size_t count);
    // Writes all bytes or throws (diskFull on a short write).
    virtual void Write(const void* buffer, std::size_t count);
    // Returns the new position; a position before the start throws badSeek.
    virtual std::uint64_t Seek(std::int64_t offset, unsigned from);
    void SeekToBegin() { Seek(0, begin); }
    std::uint64_t SeekToEnd() { return Seek(0, end); }
    virtual std::uint64_t GetPosition() const;
    virtual std::uint64_t GetLength() const;
    virtual void SetLength(std::uint64_t length);
    virtual void Flush();
    // Closes; throws FileException when the system reports a failure (the
    // object is closed all the same).
    virtual void Close();
    // Closes and swallows every error.
    virtual void Abort();

    // Positional read that leaves the file position alone; returns the bytes
    // read (short only at the end of the file). Throws on an I/O error.
    virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    virtual bool IsOpen() const { return m_fd >= 0; }
    int GetHandle() const { return m_fd; }
    // The file's size when Open succeeded (read with the check that the path
    // is no folder), so a reader that needs it at once asks no second time;
    // GetLength() when it could not be read then.
    std::uint64_t LengthAtOpen() const { return m_lengthKnown ? m_lengthAtOpen : File::GetLength(); }
    // The path as given to Open, and its last component.
    const std::string& GetFilePath() const { return m_path; }
    std::string GetFileName() const;

    // Throw FileException on failure.
    static void Remove(const std::string& path);
    static void Rename(const std::string& from, const std::string& to);

protected:
    int m_fd = -1;
    std::string m_path;
    std::uint64_t m_lengthAtOpen = 0;
    bool m_lengthKnown = false;
};

// A file over a byte buffer. Three kinds of storage:
//  - owned and growable (default constructor, or from a vector);
//  - a borrowed writable buffer (growBytes 0 keeps it fixed: writing past its
//    end throws diskFull; growBytes > 0 copies it into owned storage when it
//    must grow, the borrowed buffer is then no longer touched);
//  - a borrowed read-only view (writes throw accessDenied).
// A borrowed buffer must outlive the MemFile.
class MemFile : public File {
public:
    explicit MemFile(std::size_t growBytes = 1024);
    explicit MemFile(std::vector<std::uint8_t> bytes);
    MemFile(std::uint8_t* buffer, std::size_t size, std::size_t growBytes = 0);
    explicit MemFile(std::span<const std::uint8_t> view);
    ~MemFile() override;

    bool Open(const std::string& path, unsigned openFlags, FileException* error = nullptr) override;
    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::uint64_t Seek(std::int64_t offset, unsigned from) override;
    std::uint64_t GetPosition() const override { return m_pos; }
    std::uint64_t GetLength() const override { return m_size; }
    void SetLength(std::uint64_t length) override;
    void Flush() override {}
    void Close() override;
    void Abort() override { Close(); }
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const override;
    bool IsOpen() const override { return true; }

    // Replaces the storage by a borrowed writable buffer (as the constructor).
    void Attach(std::uint8_t* buffer, std::size_t size, std::size_t growBytes = 0);
    // The current contents (GetLength() bytes). Valid until the next write.
    const std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    // Moves the contents out (a copy for borrowed storage); the file is empty
    // and owned afterwards.
    std::vector<std::uint8_t> TakeBytes();

private:
    void Reserve(std::size_t needed);

    std::vector<std::uint8_t> m_owned;
    std::uint8_t* m_data = nullptr;     // current storage (owned or borrowed)
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    std::size_t m_growBytes = 1024;
    bool m_borrowed = false;
    bool m_readOnly = false;
};

}  // namespace platform
