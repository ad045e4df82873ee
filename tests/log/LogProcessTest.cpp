// The writer and the reader in different processes, as the chat program and the log
// viewer run: the locks between them, a reader without the right to read, and a writer
// killed in the middle of its appends.
#include "LogTestSupport.h"
#include "TestSupport.h"
#include "log/LogFile.h"
#include "log/LogTracker.h"
#include "log/LogWriter.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A forked child running `body`; talks to the parent through two pipes.
class ChildProcess
{
public:
    template <typename Body> explicit ChildProcess(Body body)
    {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(up[0]);
            close(down[1]);
            m_write = up[1];
            m_read = down[0];
            int status = body(*this);
            _exit(status);
        }
        close(up[1]);
        close(down[0]);
        m_read = up[0];
        m_write = down[1];
    }
    ~ChildProcess()
    {
        if (m_pid > 0 && !m_reaped) {
            kill(m_pid, SIGKILL);
            Wait();
        }
        close(m_read);
        close(m_write);
    }
    bool Started() const { return m_pid > 0; }
    void Send(char c) { (void)!write(m_write, &c, 1); }
    // The next byte from the other side; 0 when it is gone.
    char Receive()
    {
        char c = 0;
        return read(m_read, &c, 1) == 1 ? c : 0;
    }
    void Kill() { kill(m_pid, SIGKILL); }
    int Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_read = -1;
    int m_write = -1;
    bool m_reaped = false;
};

// Tells the parent once the file is open for reading, then waits for its go.
class PausingProgress : public IHistoryProgress
{
public:
    explicit PausingProgress(ChildProcess& link) : m_link(link) {}
    void SetStatusText(const std::string&) override {}
    bool IsCancelled() override
    {
        if (++m_asked == 2) { // the second question comes with the file open
            m_link.Send('r');
            m_link.Receive();
        }
        return false;
    }

private:
    ChildProcess& m_link;
    int m_asked = 0;
};

TEST(LogProcesses, AReaderInAnotherProcessMakesTheAppendWait)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "a")}, error));

    ChildProcess viewer([&path](ChildProcess& link) {
        CLogTracker tracker(false);
        PausingProgress progress(link);
        std::vector<ChatMessage> messages;
        std::string loadError;
        bool ok = tracker.Load(path, messages, &progress, loadError);
        return ok && messages.size() == 1 ? 0 : 1;
    });
    ASSERT_TRUE(viewer.Started());
    ASSERT_EQ(viewer.Receive(), 'r');
    EXPECT_FALSE(writer.AppendToLog(path, {MakeMessage("2", "b")}, error));
    EXPECT_EQ(error, "Resource temporarily unavailable");
    viewer.Send('g');
    int status = viewer.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("3", "c")}, error)) << error;
    CLogTracker tracker(false);
    std::vector<ChatMessage> messages;
    ASSERT_TRUE(tracker.Load(path, messages, nullptr, error)) << error;
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].Id, "2");
}

// Two copies sharing one log append at the same time: each append waits for the other's
// lock, none fails, and every message is in the log once.
TEST(LogProcesses, TwoWritersSharingALogLoseNothing)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    constexpr int kEach = 300;
    auto appendAll = [&path](char tag) {
        return [&path, tag](ChildProcess& link) {
            CLogWriter writer([] { return true; });
            link.Send('r');
            link.Receive(); // both start together
            int failed = 0;
            for (int i = 0; i < kEach; ++i) {
                std::string error;
                failed +=
                    !writer.AppendToLog(path, {MakeMessage(tag + std::to_string(i), "m")}, error);
            }
            return failed == 0 ? 0 : 1;
        };
    };
    ChildProcess a(appendAll('a'));
    ChildProcess b(appendAll('b'));
    ASSERT_TRUE(a.Started() && b.Started());
    ASSERT_EQ(a.Receive(), 'r');
    ASSERT_EQ(b.Receive(), 'r');
    a.Send('g');
    b.Send('g');
    int statusA = a.Wait();
    int statusB = b.Wait();
    EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0) << "an append failed";
    EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0) << "an append failed";

    CLogTracker tracker(false);
    std::vector<ChatMessage> messages;
    std::string error;
    ASSERT_TRUE(tracker.Load(path, messages, nullptr, error)) << error;
    std::set<std::string> ids;
    for (const ChatMessage& m : messages)
        ids.insert(m.Id);
    EXPECT_EQ(messages.size(), 2u * kEach);
    EXPECT_EQ(ids.size(), 2u * kEach);
}

// The lock is held longer than an append waits: the append fails and keeps its message, and
// the writer writes it when it ends, waiting for the lock then.
TEST(LogProcesses, PendingMessagesAreWrittenWhenTheWriterEnds)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    ChildProcess holder([&path](ChildProcess& link) {
        CLogFile file;
        if (!file.OpenForAppend(path))
            return 1;
        link.Send('w');
        link.Receive();
        usleep(200'000); // still holding while the writer ends
        return 0;
    });
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(holder.Receive(), 'w');
    {
        CLogWriter writer([] { return true; });
        writer.SetLockWaits(std::chrono::milliseconds(20), std::chrono::seconds(10));
        std::string error;
        EXPECT_FALSE(writer.AppendToLog(path, {MakeMessage("1", "kept")}, error));
        EXPECT_EQ(error, "Resource temporarily unavailable");
        holder.Send('g');
    }
    holder.Wait();
    CLogTracker tracker(false);
    std::vector<ChatMessage> messages;
    std::string error;
    ASSERT_TRUE(tracker.Load(path, messages, nullptr, error)) << error;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Text, "kept");
}

TEST(LogProcesses, AnAppendInAnotherProcessMakesTheReadWait)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "a")}, error));
    CLogTracker tracker(false);
    std::vector<ChatMessage> messages;
    ASSERT_TRUE(tracker.Load(path, messages, nullptr, error));

    // The child holds the file the way the writer does during an append.
    ChildProcess appender([&path](ChildProcess& link) {
        CLogFile file;
        if (!file.OpenForAppend(path))
            return 1;
        link.Send('w');
        link.Receive();
        return 0;
    });
    ASSERT_TRUE(appender.Started());
    ASSERT_EQ(appender.Receive(), 'w');
    bool reload = true;
    EXPECT_FALSE(tracker.CheckForChanges(messages, nullptr, error, reload));
    EXPECT_EQ(error, "Could not open the Zib Tam log.");
    EXPECT_FALSE(reload);
    EXPECT_TRUE(tracker.IsLoaded());
    appender.Send('g');
    appender.Wait();

    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("2", "b")}, error));
    ASSERT_TRUE(tracker.CheckForChanges(messages, nullptr, error, reload)) << error;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Id, "2");
}

TEST(LogProcesses, ALogTheUserCannotRead)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "a")}, error));
    std::string before = ReadFile(path);
    chmod(dir.Path().c_str(), 0755);
    chmod(path.c_str(), 0600);

    // As root the file is readable anyway, so the reader runs as an ordinary user.
    ChildProcess reader([&path](ChildProcess& link) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        if (geteuid() != 0)
            chmod(path.c_str(), 0);
        CLogTracker tracker(false);
        std::vector<ChatMessage> messages;
        std::string loadError;
        bool ok = tracker.Load(path, messages, nullptr, loadError);
        link.Send(ok ? 'y' : loadError == "Could not open the Zib Tam log." ? 'n' : '?');
        return 0;
    });
    ASSERT_TRUE(reader.Started());
    EXPECT_EQ(reader.Receive(), 'n');
    reader.Wait();
    chmod(path.c_str(), 0600);
    EXPECT_EQ(ReadFile(path), before);
}

// A writer process appends, reporting each completed append; it is killed at a random
// moment, or by the file size limit in the middle of a write (which leaves half an
// element in the file). Every reported message must still be in the log, and the next
// append must leave a well-formed log.
TEST(LogProcesses, AWriterKilledInTheMiddleLosesNoCompletedMessage)
{
    std::mt19937 random(12345);
    int cutShort = 0;
    for (int round = 0; round < 16; ++round) {
        TempDir dir;
        std::string path = dir.File("log.xml");
        const bool bySizeLimit = round % 2 == 1;
        const int limitAt = 1 + static_cast<int>(random() % 10);
        const size_t limitInto = 1 + random() % 400;
        ChildProcess appender([&](ChildProcess& link) {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::signal(SIGXFSZ, SIG_DFL);
            CLogWriter writer([] { return true; });
            std::string error;
            for (int i = 0;; ++i) {
                ChatMessage message = MakeMessage(std::to_string(i), std::string(300, 'm'));
                if (bySizeLimit && i == limitAt) {
                    struct stat info;
                    stat(path.c_str(), &info);
                    rlimit limit{static_cast<rlim_t>(info.st_size) + limitInto, RLIM_INFINITY};
                    setrlimit(RLIMIT_FSIZE, &limit);
                }
                if (!writer.AppendToLog(path, {message}, error))
                    return 1;
                link.Send('+');
            }
        });
        ASSERT_TRUE(appender.Started());
        int completed = 0;
        if (!bySizeLimit) {
            int wanted = 1 + static_cast<int>(random() % 20);
            while (completed < wanted && appender.Receive() == '+')
                ++completed;
            usleep(static_cast<useconds_t>(random() % 2000));
            appender.Kill();
        }
        appender.Wait();
        // Reports sent before the end that the loop above did not count.
        while (appender.Receive() == '+')
            ++completed;
        if (bySizeLimit) {
            EXPECT_EQ(completed, limitAt) << round;
        }
        std::string killed = ReadFile(path);
        if (killed.size() < 6 || killed.substr(killed.size() - 6) != "</log>")
            ++cutShort;

        CLogWriter writer([] { return true; });
        std::string error;
        ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("after", "x")}, error)) << error;
        CLogTracker tracker(false);
        std::vector<ChatMessage> messages;
        ASSERT_TRUE(tracker.Load(path, messages, nullptr, error))
            << "round " << round << ": " << error;
        ASSERT_GE(messages.size(), static_cast<size_t>(completed) + 1) << "round " << round;
        for (int i = 0; i < completed; ++i)
            EXPECT_EQ(messages[static_cast<size_t>(i)].Id, std::to_string(i)) << round;
        EXPECT_EQ(messages.back().Id, "after");
        std::string file = ReadFile(path);
        EXPECT_EQ(file.find("</log>"), file.size() - 6);
    }
    // Half the rounds end in the middle of a write; the repair must have been needed.
    EXPECT_GE(cutShort, 8);
}

} // namespace
