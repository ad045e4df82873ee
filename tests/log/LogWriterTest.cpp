#include "log/LogWriter.h"

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "common/MessageElement.h"
#include "log/LogFile.h"
#include "log/LogTracker.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

const std::string kHeader(kLogHeader);

std::vector<ChatMessage> LoadAll(const std::string& path)
{
    CLogTracker tracker(false);
    std::vector<ChatMessage> messages;
    std::string error;
    EXPECT_TRUE(tracker.Load(path, messages, nullptr, error)) << error;
    return messages;
}

TEST(LogWriter, FirstAppendWritesHeaderElementAndClosingTag)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ChatMessage first = MakeMessage("1", "Hi");
    ASSERT_TRUE(writer.AppendToLog(path, {first}, error)) << error;
    EXPECT_EQ(ReadFile(path), kHeader + FormatMessageElement(first) + "</log>");
    EXPECT_EQ(kHeader.substr(0, 23), "<?xml version=\"1.0\"?>\r\n");

    ChatMessage second = MakeMessage("2", "again");
    ChatMessage third = MakeMessage("3", "and again");
    ASSERT_TRUE(writer.AppendToLog(path, {second, third}, error)) << error;
    EXPECT_EQ(ReadFile(path), kHeader + FormatMessageElement(first) + FormatMessageElement(second) +
                                  FormatMessageElement(third) + "</log>");
    EXPECT_EQ(writer.LastBytesWritten(),
              FormatMessageElement(second).size() + FormatMessageElement(third).size() + 6);
    EXPECT_TRUE(writer.Pending().empty());
}

// The log holds every message the user sent and received: a new one is his alone, also
// beside a program in a folder that others may read.
TEST(LogWriter, NewLogIsPrivate)
{
    ScopedUmask umask(022);
    TempDir dir;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
    std::string path = dir.File("Zib Tam.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "Hi")}, error)) << error;
    EXPECT_EQ(ModeOf(path), 0600);
    EXPECT_EQ(ModeOf(dir.Path().string()), 0755);
}

TEST(LogWriter, LoggingOffWritesAndKeepsNothing)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    bool on = false;
    CLogWriter writer([&on] { return on; });
    std::string error;
    EXPECT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "lost")}, error));
    EXPECT_FALSE(std::filesystem::exists(path));
    on = true;
    EXPECT_TRUE(writer.AppendToLog(path, {}, error));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(writer.AppendToLog(path, {MakeMessage("2", "kept")}, error));
    std::vector<ChatMessage> read = LoadAll(path);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].Id, "2");
}

// A failed open keeps the messages; the next append writes them first, in order.
TEST(LogWriter, FailuresKeepMessagesPending)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    struct Case
    {
        const char* Name;
        std::string Path;
        std::string Error;
    };
    std::filesystem::create_directory(dir.File("folder"));
    const Case cases[] = {
        {"directory", dir.File("folder"), "Is a directory"},
        {"missing folder", dir.File("none/log.xml"), "No such file or directory"},
    };
    for (const Case& c : cases) {
        CLogWriter writer([] { return true; });
        std::string error;
        EXPECT_FALSE(writer.AppendToLog(c.Path, {MakeMessage("1", "a")}, error)) << c.Name;
        EXPECT_EQ(error, c.Error) << c.Name;
        EXPECT_EQ(writer.Pending(), FormatMessageElement(MakeMessage("1", "a"))) << c.Name;
    }

    // Locked by a reader (same process, separate open file: flock still conflicts).
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "a")}, error));
    std::string before = ReadFile(path);
    {
        CLogFile reader;
        ASSERT_TRUE(reader.OpenForReading(path));
        EXPECT_FALSE(writer.AppendToLog(path, {MakeMessage("2", "b")}, error));
        EXPECT_EQ(error, "Resource temporarily unavailable");
        EXPECT_EQ(ReadFile(path), before);
    }
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("3", "c")}, error)) << error;
    std::vector<ChatMessage> read = LoadAll(path);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[1].Id, "2");
    EXPECT_EQ(read[2].Id, "3");
}

// A write that fails half-way (file size limit) puts the old end back and keeps the messages.
TEST(LogWriter, FailedWriteLeavesTheLogAsItWas)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("1", "a")}, error));
    std::string before = ReadFile(path);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = before.size() + 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool ok = writer.AppendToLog(path, {MakeMessage("2", std::string(5000, 'x'))}, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "File too large");
    EXPECT_EQ(ReadFile(path), before);
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("3", "c")}, error)) << error;
    std::vector<ChatMessage> read = LoadAll(path);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[1].Text, std::string(5000, 'x'));
}

// What an append finds at the end of the file, and what it makes of it.
TEST(LogWriter, AppendsAfterWhateverTheFileEndsWith)
{
    const std::string a = FormatMessageElement(MakeMessage("a", "first"));
    const std::string b = FormatMessageElement(MakeMessage("b", "second"));
    const std::string added = FormatMessageElement(MakeMessage("new", "added"));
    struct Case
    {
        const char* Name;
        std::string Before;
        std::string After;
    };
    const Case cases[] = {
        {"well-formed", kHeader + a + "</log>", kHeader + a + added + "</log>"},
        {"line end after the tag", kHeader + a + "</log>\r\n", kHeader + a + added + "</log>"},
        // The states an append killed in the middle leaves behind.
        {"elements without closing tag", kHeader + a + b, kHeader + a + b + added + "</log>"},
        {"half an element", kHeader + a + b.substr(0, 40), kHeader + a + added + "</log>"},
        {"closing tag partly overwritten", kHeader + a + "   og>", kHeader + a + added + "</log>"},
        {"header and half an element", kHeader + a.substr(0, 100), kHeader + added + "</log>"},
        {"header only", kHeader, kHeader + added + "</log>"},
        {"long broken element",
         kHeader + a + "   <message>\r\n      <text>" + std::string(200000, 'z'),
         kHeader + a + added + "</log>"},
        // Not a log of ours: appended to as it is.
        {"foreign file", "<?xml version=\"1.0\"?>\n<notes>",
         "<?xml version=\"1.0\"?>\n<notes>" + added + "</log>"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string path = dir.File("log.xml");
        WriteFile(path, c.Before);
        CLogWriter writer([] { return true; });
        std::string error;
        ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("new", "added")}, error)) << c.Name;
        EXPECT_EQ(ReadFile(path), c.After) << c.Name;
    }
}

TEST(LogWriter, KeepsRawBytesAlreadyInTheFile)
{
    TempDir dir;
    std::string path = dir.File("log.xml");
    std::string raw = FormatMessageElement(MakeMessage("a", "x"));
    raw.replace(raw.find("x</text>"), 1, "caf\xe9");
    WriteFile(path, kHeader + raw + "</log>");
    CLogWriter writer([] { return true; });
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(path, {MakeMessage("b", "caf\xe9")}, error)) << error;
    std::vector<ChatMessage> read = LoadAll(path);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].Text, "caf\xe9");
    EXPECT_EQ(read[1].Text, "caf\xe9");
    EXPECT_NE(ReadFile(path).find("caf&#233;"), std::string::npos);
}

} // namespace
