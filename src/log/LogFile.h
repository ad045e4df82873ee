#pragma once
// The log file as the writer and the reader open it. The writer holds an exclusive lock
// for one append, a reader a shared lock while it reads. A reader never waits: it fails and
// tries again later. A writer waits a bounded time, since its messages are what would be
// lost. The locks are advisory (flock), so they hold between the processes of this
// program: the chat, the log viewer, and copies sharing one log.
#include <chrono>
#include <cstdint>
#include <string>

class CLogFile
{
public:
    CLogFile() = default;
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Read and write, created when missing, locked exclusively; waits up to `wait` while
    // someone else holds the lock. False with errno set.
    bool OpenForAppend(const std::string& path,
                       std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // Read only, never created, locked shared. False with errno set.
    bool OpenForReading(const std::string& path);

    int Handle() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // Reads exactly `length` bytes at `offset` (false on an error or an early end).
    bool ReadAt(int64_t offset, char* buffer, size_t length);
    // Writes all bytes at `offset`; false with errno set.
    bool WriteAt(int64_t offset, const char* data, size_t length);
    // Lets go of the lock, keeping the file open.
    bool Unlock();
    // Closes (and unlocks); false with errno set when the close failed.
    bool Close();

private:
    bool Open(const std::string& path, int flags, int lock, std::chrono::milliseconds wait);
    int m_fd = -1;
};
