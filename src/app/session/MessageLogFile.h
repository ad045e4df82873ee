#pragma once
// The message log as the chat window and the console write it: the writer decides on
// "LogMessages", the path is the settings' log path at the moment of writing.
#include "app/session/ChatController.h"
#include "log/LogWriter.h"

class COptions;

class CMessageLogFile : public IMessageLog
{
public:
    explicit CMessageLogFile(const COptions& options);
    bool AppendToLog(const std::vector<ChatMessage>& messages, std::string& error) override;

private:
    const COptions& m_options;
    CLogWriter m_writer;
};
