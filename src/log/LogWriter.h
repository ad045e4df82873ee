#pragma once
// Appends shown messages to the XML message log. The log stays one well-formed document
// after every append: new elements go in front of the closing tag, which is written again.
// Messages whose write failed stay pending and go first with the next successful append;
// what is still pending when the writer ends is written then.
#include "common/ChatMessage.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class COptions;

class CLogWriter
{
public:
    // `loggingOn` is asked at every append ("LogMessages"; settings are never cached).
    explicit CLogWriter(std::function<bool()> loggingOn);
    explicit CLogWriter(const COptions& options);
    // Writes what is still pending, waiting up to the final wait for the file; tells the
    // standard error output when even that fails.
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // Another copy sharing the log holds it for the milliseconds of one append; an append
    // waits this long for it before it fails.
    static constexpr std::chrono::milliseconds kLockWait{1000};
    // At the end nothing comes later to write the pending messages: wait longer.
    static constexpr std::chrono::milliseconds kFinalWait{5000};
    void SetLockWaits(std::chrono::milliseconds append, std::chrono::milliseconds final)
    {
        m_lockWait = append;
        m_finalWait = final;
    }

    // False with the system's error text when the file could not be written; the messages
    // are then kept and written with the next append.
    bool AppendToLog(const std::string& path, const std::vector<ChatMessage>& messages,
                     std::string& error);

    const std::string& Pending() const { return m_pending; }
    // Writes the pending messages to the log of the last append.
    bool Flush(std::chrono::milliseconds wait, std::string& error);
    // Bytes written to the file by the last successful append.
    size_t LastBytesWritten() const { return m_lastBytesWritten; }

private:
    bool WritePending(const std::string& path, std::chrono::milliseconds wait, std::string& error);

    std::function<bool()> m_loggingOn;
    std::string m_pending;
    std::string m_lastPath;
    std::chrono::milliseconds m_lockWait = kLockWait;
    std::chrono::milliseconds m_finalWait = kFinalWait;
    size_t m_lastBytesWritten = 0;
};
