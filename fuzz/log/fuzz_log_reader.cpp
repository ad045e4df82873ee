// Feeds arbitrary bytes to the log reader as a log file, then appends a message to it and
// follows the change: loading must never crash, and a check after a successful load must
// return exactly the appended message or ask for a reload.
#include "log/LogTracker.h"
#include "log/LogWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// One scratch folder per run, removed when the fuzzer exits.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        char folder[] = "/tmp/zibtam-fuzz-log-XXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        m_folder = folder;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string File() const { return m_folder + "/log.xml"; }

private:
    std::string m_folder;
};

std::string LogPath()
{
    static const ScratchFolder folder;
    return folder.File();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<ChatMessage> messages;
    std::string error;
    CLogTracker::ReadLogText(input, messages, nullptr, error, false);

    const std::string path = LogPath();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(input.data(), 1, input.size(), file);
    std::fclose(file);

    CLogTracker tracker(false);
    bool loaded = tracker.Load(path, messages, nullptr, error);

    ChatMessage message;
    message.Id = "fz";
    message.Sender = "Fuzz";
    message.Text = "appended";
    CLogWriter writer([] { return true; });
    if (!writer.AppendToLog(path, {message}, error))
        std::abort();

    bool reload = false;
    bool checked = tracker.CheckForChanges(messages, nullptr, error, reload);
    if (loaded && checked && !reload && (messages.size() != 1 || messages[0].Id != "fz"))
        std::abort();
    return 0;
}
