#include "app/session/MessageLogFile.h"

#include "settings/Options.h"

CMessageLogFile::CMessageLogFile(const COptions& options) : m_options(options), m_writer(options) {}

bool CMessageLogFile::AppendToLog(const std::vector<ChatMessage>& messages, std::string& error)
{
    return m_writer.AppendToLog(m_options.GetLogPath(), messages, error);
}
