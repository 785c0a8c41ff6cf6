#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

const char* FileCauseText(int cause) {
    static const char* const kTexts[] = {
        "no error",
        "an unspecified error occurred",
        "the file could not be located",
        "all or part of the path is invalid",
        "the permitted number of open files was exceeded",
        "the file could not be accessed",
        "there was an attempt to use an invalid file handle",
        "the current working directory cannot be removed",
        "there are no more directory entries",
        "there was an error trying to set the file pointer",
        "there was a hardware error",
        "a sharing violation occurred",
        "there was an attempt to lock a region that was already locked",
        "the disk is full",
        "the end of file was reached",
    };
    if (cause >= 0 && cause < static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]))) return kTexts[cause];
    return "unknown error";
}

const char* ArchiveCauseText(int cause) {
    static const char* const kTexts[] = {
        "no error",
        "an unspecified error occurred",
        "there was an attempt to write to an archive opened for loading",
        "the end of file was reached while reading an object",
        "there was an attempt to read from an archive opened for storing",
        "the file has an invalid format",
        "there was an attempt to read an object into an object of the wrong type",
        "there was an attempt to read an object with a different version of the class",
        "the buffer is full",
    };
    if (cause >= 0 && cause < static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]))) return kTexts[cause];
    return "unknown error";
}

std::string FileWhat(int cause, long osError, const std::string& fileName) {
    std::string s = FileCauseText(cause);
    if (!fileName.empty()) s += " (" + fileName + ")";
    if (osError != 0) s += ": " + std::string(std::strerror(static_cast<int>(osError)));
    return s;
}

// Reads until `count` bytes or the end of the file; a signal does not cut the
// read short. `readSome(dst, n, done)` is one read(2)-like call for bytes
// [done, done + n).
template <typename ReadSome>
std::size_t ReadFully(char* p, std::size_t count, const std::string& path, ReadSome readSome) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = readSome(p + done, count - done, done);
        if (n < 0) {
            if (errno == EINTR) continue;
            FileException::ThrowErrno(errno, path);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

// ---------------------------------------------------------------------------
FileException::FileException(int cause, long osError, std::string fileName)
    : Exception(FileWhat(cause, osError, fileName)),
      m_cause(cause),
      m_lOsError(osError),
      m_strFileName(std::move(fileName)) {}

int FileException::ErrnoToCause(int err) {
    switch (err) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
    case ENOTEMPTY: return accessDenied;
    case EBADF: return invalidFile;
    case ESPIPE:
    case EOVERFLOW: return badSeek;
    case EIO:
    case ENXIO:
    case ENODEV: return hardIO;
    case EBUSY:
    case ETXTBSY: return sharingViolation;
    case EDEADLK:
    case ENOLCK: return lockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return diskFull;
    default: return genericException;
    }
}

void FileException::ThrowErrno(int err, const std::string& fileName) {
    throw FileException(ErrnoToCause(err), err, fileName);
}

void FileException::Throw(int cause, long osError, const std::string& fileName) {
    throw FileException(cause, osError, fileName);
}

std::string FileException::GetErrorMessage() const { return what(); }

ArchiveException::ArchiveException(int cause, std::string fileName)
    : Exception(std::string(ArchiveCauseText(cause)) + (fileName.empty() ? "" : " (" + fileName + ")")),
      m_cause(cause),
      m_strFileName(std::move(fileName)) {}

void ArchiveException::Throw(int cause, const std::string& fileName) { throw ArchiveException(cause, fileName); }

std::string ArchiveException::GetErrorMessage() const { return what(); }

// ---------------------------------------------------------------------------
File::File() = default;

File::File(const std::string& path, unsigned openFlags) {
    FileException error(FileException::none, 0, path);
    if (!Open(path, openFlags, &error)) throw error;
}

File::~File() {
    if (m_fd >= 0) ::close(m_fd);
}

bool File::Open(const std::string& path, unsigned openFlags, FileException* error) {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_path = path;
    int flags = O_CLOEXEC;
    switch (openFlags & 3u) {
    case modeWrite: flags |= O_WRONLY; break;
    case modeReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    if (openFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(openFlags & modeNoTruncate)) flags |= O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int err = errno;
        if (error) *error = FileException(FileException::ErrnoToCause(err), err, path);
        return false;
    }
    struct stat st;
    const bool known = ::fstat(fd, &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = FileException(FileException::accessDenied, EISDIR, path);
        return false;
    }
    m_fd = fd;
    m_lengthKnown = known;
    m_lengthAtOpen = known && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

std::size_t File::Read(void* buffer, std::size_t count) {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    return ReadFully(static_cast<char*>(buffer), count, m_path,
                     [this](char* dst, std::size_t n, std::size_t) { return ::read(m_fd, dst, n); });
}

std::size_t File::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    return ReadFully(static_cast<char*>(buffer), count, m_path,
                     [this, offset](char* dst, std::size_t n, std::size_t done) {
                         return ::pread(m_fd, dst, n, static_cast<off_t>(offset + done));
                     });
}

void File::Write(const void* buffer, std::size_t count) {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(m_fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            FileException::ThrowErrno(errno, m_path);
        }
        if (n == 0) FileException::Throw(FileException::diskFull, ENOSPC, m_path);
        done += static_cast<std::size_t>(n);
    }
}

std::uint64_t File::Seek(std::int64_t offset, unsigned from) {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (r < 0) {
        int err = errno;
        FileException::Throw(err == EINVAL ? FileException::badSeek : FileException::ErrnoToCause(err), err, m_path);
    }
    return static_cast<std::uint64_t>(r);
}

std::uint64_t File::GetPosition() const {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    off_t r = ::lseek(m_fd, 0, SEEK_CUR);
    if (r < 0) FileException::ThrowErrno(errno, m_path);
    return static_cast<std::uint64_t>(r);
}

std::uint64_t File::GetLength() const {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    struct stat st;
    if (::fstat(m_fd, &st) != 0) FileException::ThrowErrno(errno, m_path);
    return static_cast<std::uint64_t>(st.st_size);
}

void File::SetLength(std::uint64_t length) {
    if (m_fd < 0) FileException::Throw(FileException::invalidFile, EBADF, m_path);
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) FileException::ThrowErrno(errno, m_path);
}

void File::Flush() {
    if (m_fd < 0) return;
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) FileException::ThrowErrno(errno, m_path);
}

void File::Close() {
    if (m_fd < 0) return;
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) FileException::ThrowErrno(errno, m_path);
}

void File::Abort() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

std::string File::GetFileName() const {
    auto pos = m_path.find_last_of('/');
    return pos == std::string::npos ? m_path : m_path.substr(pos + 1);
}

void File::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) FileException::ThrowErrno(errno, path);
}

void File::Rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) FileException::ThrowErrno(errno, from);
}

// ---------------------------------------------------------------------------
MemFile::MemFile(std::size_t growBytes) : m_growBytes(growBytes ? growBytes : 1024) {}

MemFile::MemFile(std::vector<std::uint8_t> bytes) : m_owned(std::move(bytes)) {
    m_data = m_owned.data();
    m_size = m_capacity = m_owned.size();
}

MemFile::MemFile(std::uint8_t* buffer, std::size_t size, std::size_t growBytes) { Attach(buffer, size, growBytes); }

MemFile::MemFile(std::span<const std::uint8_t> view) {
    m_data = const_cast<std::uint8_t*>(view.data());  // never written: m_readOnly
    m_size = m_capacity = view.size();
    m_borrowed = true;
    m_readOnly = true;
}

MemFile::~MemFile() = default;

bool MemFile::Open(const std::string& path, unsigned, FileException* error) {
    if (error) *error = FileException(FileException::genericException, 0, path);
    return false;
}

void MemFile::Attach(std::uint8_t* buffer, std::size_t size, std::size_t growBytes) {
    m_owned.clear();
    m_data = buffer;
    m_size = m_capacity = buffer ? size : 0;
    m_pos = 0;
    m_growBytes = growBytes;
    m_borrowed = true;
    m_readOnly = false;
}

std::size_t MemFile::Read(void* buffer, std::size_t count) {
    if (m_pos >= m_size) return 0;
    std::size_t n = std::min(count, m_size - m_pos);
    std::memcpy(buffer, m_data + m_pos, n);
    m_pos += n;
    return n;
}

std::size_t MemFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (offset >= m_size) return 0;
    std::size_t n = std::min<std::size_t>(count, m_size - static_cast<std::size_t>(offset));
    std::memcpy(buffer, m_data + offset, n);
    return n;
}

void MemFile::Reserve(std::size_t needed) {
    if (needed <= m_capacity) return;
    if (m_readOnly) FileException::Throw(FileException::accessDenied, EACCES, {});
    if (m_growBytes == 0) FileException::Throw(FileException::diskFull, ENOSPC, {});
    std::size_t cap = std::max(needed, m_capacity + m_capacity / 2);
    cap = (cap + m_growBytes - 1) / m_growBytes * m_growBytes;
    if (m_borrowed) {
        std::vector<std::uint8_t> copy(cap);
        if (m_size) std::memcpy(copy.data(), m_data, m_size);
        m_owned.swap(copy);
        m_borrowed = false;
    } else {
        m_owned.resize(cap);
    }
    m_data = m_owned.data();
    m_capacity = cap;
}

void MemFile::Write(const void* buffer, std::size_t count) {
    if (m_readOnly) FileException::Throw(FileException::accessDenied, EACCES, {});
    if (count == 0) return;
    Reserve(m_pos + count);
    if (m_pos > m_size) std::memset(m_data + m_size, 0, m_pos - m_size);
    std::memcpy(m_data + m_pos, buffer, count);
    m_pos += count;
    m_size = std::max(m_size, m_pos);
}

std::uint64_t MemFile::Seek(std::int64_t offset, unsigned from) {
    std::int64_t base = from == current ? static_cast<std::int64_t>(m_pos)
                        : from == end   ? static_cast<std::int64_t>(m_size)
                                        : 0;
    std::int64_t pos = base + offset;
    if (pos < 0) FileException::Throw(FileException::badSeek, EINVAL, {});
    m_pos = static_cast<std::size_t>(pos);
    return m_pos;
}

void MemFile::SetLength(std::uint64_t length) {
    if (m_readOnly) FileException::Throw(FileException::accessDenied, EACCES, {});
    if (length > m_size) {
        Reserve(static_cast<std::size_t>(length));
        std::memset(m_data + m_size, 0, static_cast<std::size_t>(length) - m_size);
    }
    m_size = static_cast<std::size_t>(length);
    if (m_pos > m_size) m_pos = m_size;
}

void MemFile::Close() {
    m_owned.clear();
    m_owned.shrink_to_fit();
    m_data = nullptr;
    m_size = m_capacity = m_pos = 0;
    m_borrowed = false;
    m_readOnly = false;
    if (m_growBytes == 0) m_growBytes = 1024;
}

std::vector<std::uint8_t> MemFile::TakeBytes() {
    std::vector<std::uint8_t> out;
    if (m_borrowed) {
        out.assign(m_data, m_data + m_size);
    } else {
        m_owned.resize(m_size);
        out.swap(m_owned);
    }
    m_owned.clear();
    m_data = nullptr;
    m_size = m_capacity = m_pos = 0;
    m_borrowed = m_readOnly = false;
    if (m_growBytes == 0) m_growBytes = 1024;
    return out;
}

}  // namespace platform
