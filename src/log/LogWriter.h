#pragma once
// Appends shown messages to the XML message log. The log stays one well-formed document
// after every append: new elements go in front of the closing tag, which is written again.
// Messages whose write failed stay pending and go first with the next successful append.
#include "common/ChatMessage.h"

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

    // False with the system's error text when the file could not be written; the messages
    // are then kept and written with the next append.
    bool AppendToLog(const std::string& path, const std::vector<ChatMessage>& messages,
                     std::string& error);

    const std::string& Pending() const { return m_pending; }
    // Bytes written to the file by the last successful append.
    size_t LastBytesWritten() const { return m_lastBytesWritten; }

private:
    std::function<bool()> m_loggingOn;
    std::string m_pending;
    size_t m_lastBytesWritten = 0;
};
