#pragma once
// Progress of a long operation on messages (reading the log, showing many messages): a
// status text for the user and the question whether the user has cancelled.
#include <string>

class IHistoryProgress
{
public:
    virtual ~IHistoryProgress() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual bool IsCancelled() = 0;
};
