#pragma once
// Helpers shared by the log tests: messages, whole-file reads and writes, a scripted progress.
#include "MessageTestSupport.h"
#include "view/HistoryProgress.h"

#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Reports cancel from the n-th question on (never when n < 0).
class ScriptedProgress : public IHistoryProgress
{
public:
    explicit ScriptedProgress(int cancelFrom = -1) : m_cancelFrom(cancelFrom) {}
    void SetStatusText(const std::string&) override {}
    bool IsCancelled() override
    {
        ++Asked;
        return m_cancelFrom >= 0 && Asked > m_cancelFrom;
    }
    int Asked = 0;

private:
    int m_cancelFrom;
};
