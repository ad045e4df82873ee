#include "log/LogFile.h"

#include "platform/PrivateFiles.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

CLogFile::~CLogFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CLogFile::Open(const std::string& path, int flags, int lock, std::chrono::milliseconds wait)
{
    Close();
    // A new log is the user's alone: it holds every message he sent and received.
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, kPrivateFileMode);
    if (fd < 0)
        return false;
    // Others hold the lock for one append or one read, milliseconds; ask again often at
    // first, then less often.
    auto deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd, lock | LOCK_NB) != 0) {
        int error = errno;
        auto now = std::chrono::steady_clock::now();
        if ((error != EWOULDBLOCK && error != EINTR) || now >= deadline) {
            ::close(fd);
            errno = error;
            return false;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    m_fd = fd;
    return true;
}

bool CLogFile::OpenForAppend(const std::string& path, std::chrono::milliseconds wait)
{
    return Open(path, O_RDWR | O_CREAT, LOCK_EX, wait);
}

bool CLogFile::OpenForReading(const std::string& path)
{
    // Non-blocking, so that a log path naming a FIFO cannot hang the program.
    return Open(path, O_RDONLY | O_NONBLOCK, LOCK_SH, std::chrono::milliseconds(0));
}

bool CLogFile::ReadAt(int64_t offset, char* buffer, size_t length)
{
    while (length > 0) {
        ssize_t got = ::pread(m_fd, buffer, length, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        buffer += got;
        length -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

bool CLogFile::WriteAt(int64_t offset, const char* data, size_t length)
{
    while (length > 0) {
        ssize_t put = ::pwrite(m_fd, data, length, offset);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        length -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

bool CLogFile::Unlock()
{
    return m_fd >= 0 && ::flock(m_fd, LOCK_UN) == 0;
}

bool CLogFile::Close()
{
    if (m_fd < 0)
        return true;
    int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}
