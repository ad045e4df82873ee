#include "log/LogTracker.h"

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "common/MessageElement.h"
#include "log/LogWriter.h"
#include "log/PackedMessages.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

const std::string kHeader(kLogHeader);

class LogTrackerTest : public testing::Test
{
protected:
    TempDir m_dir;
    std::string m_path = m_dir.File("Zib Tam Log.xml");
    CLogWriter m_writer{[] { return true; }};
    CLogTracker m_tracker{false};
    std::vector<ChatMessage> m_messages;
    std::string m_error;
    bool m_reload = false;

    void Append(const std::string& id, const std::string& text = "hello")
    {
        ASSERT_TRUE(m_writer.AppendToLog(m_path, {MakeMessage(id, text)}, m_error)) << m_error;
    }
    bool Load(IHistoryProgress* progress = nullptr)
    {
        return m_tracker.Load(m_path, m_messages, progress, m_error);
    }
    bool Check(IHistoryProgress* progress = nullptr)
    {
        return m_tracker.CheckForChanges(m_messages, progress, m_error, m_reload);
    }
    std::vector<std::string> ReadIds() const
    {
        std::vector<std::string> ids;
        for (const ChatMessage& m : m_messages)
            ids.push_back(m.Id);
        return ids;
    }
};

using Ids = std::vector<std::string>;

TEST_F(LogTrackerTest, MissingLogIsEmptyAndIsReadWhenItAppears)
{
    ASSERT_TRUE(Load()) << m_error;
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_error, "");
    ASSERT_TRUE(Check());
    EXPECT_FALSE(m_reload);
    Append("1");
    Append("2");
    ASSERT_TRUE(Check()) << m_error;
    EXPECT_FALSE(m_reload);
    EXPECT_EQ(ReadIds(), (Ids{"1", "2"}));
}

TEST_F(LogTrackerTest, CheckReadsOnlyWhatWasAppended)
{
    for (int i = 0; i < 20; ++i)
        Append(std::to_string(i));
    ASSERT_TRUE(Load()) << m_error;
    EXPECT_EQ(m_messages.size(), 20u);
    std::string file = ReadFile(m_path);
    EXPECT_EQ(m_tracker.Fingerprint(), file.substr(file.size() - 518, 512));

    ASSERT_TRUE(Check());
    EXPECT_FALSE(m_reload);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_tracker.LastBytesRead(), 512u);

    Append("new", "two\nlines");
    ASSERT_TRUE(Check()) << m_error;
    EXPECT_FALSE(m_reload);
    ASSERT_EQ(ReadIds(), (Ids{"new"}));
    EXPECT_EQ(m_messages[0].Text, "two\r\nlines");
    size_t element = FormatMessageElement(MakeMessage("new", "two\nlines")).size();
    EXPECT_EQ(m_tracker.LastBytesRead(), 512u + element + 6);

    // The fingerprint moves on: a further append is picked up, and only it.
    Append("later");
    ASSERT_TRUE(Check()) << m_error;
    EXPECT_EQ(ReadIds(), (Ids{"later"}));
}

// A log of one short message is shorter than the fingerprint; it must still be followed.
TEST_F(LogTrackerTest, ShortLogIsFollowed)
{
    Append("1", "a");
    ASSERT_LT(ReadFile(m_path).size(), 518u);
    ASSERT_TRUE(Load()) << m_error;
    EXPECT_EQ(ReadIds(), (Ids{"1"}));
    for (const char* id : {"2", "3", "4"}) {
        Append(id, "b");
        ASSERT_TRUE(Check()) << m_error;
        EXPECT_FALSE(m_reload);
        EXPECT_EQ(ReadIds(), (Ids{id}));
    }
}

TEST_F(LogTrackerTest, OtherChangesAskForAReload)
{
    struct Case
    {
        const char* Name;
        std::function<void(const std::string& path, const std::string& old)> Change;
    };
    const Case cases[] = {
        {"truncated", [](const std::string& path,
                         const std::string& old) { WriteFile(path, old.substr(0, 700)); }},
        {"edited in place",
         [](const std::string& path, const std::string& old) {
             std::string edited = old;
             edited[edited.size() - 100] = 'X';
             WriteFile(path, edited);
         }},
        {"replaced, then written to",
         [this](const std::string& path, const std::string&) {
             std::filesystem::remove(path);
             for (int i = 0; i < 6; ++i)
                 Append("other" + std::to_string(i));
         }},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(m_path);
        for (int i = 0; i < 5; ++i)
            Append(std::to_string(i));
        ASSERT_TRUE(Load()) << m_error;
        c.Change(m_path, ReadFile(m_path));
        EXPECT_FALSE(Check()) << c.Name;
        EXPECT_TRUE(m_reload) << c.Name;
        EXPECT_EQ(m_error, "The Zib Tam log needs to be reloaded.") << c.Name;
        EXPECT_FALSE(m_tracker.IsLoaded()) << c.Name;
    }

    // A log saved by an editor with a line end after the closing tag loads, but what the
    // writer appends then lands before that line end, not after the known length.
    for (const char* tail : {"\r\n", "\n\n\n"}) {
        std::filesystem::remove(m_path);
        for (int i = 0; i < 5; ++i)
            Append(std::to_string(i));
        WriteFile(m_path, ReadFile(m_path) + tail);
        ASSERT_TRUE(Load()) << m_error;
        Append("5");
        EXPECT_FALSE(Check());
        EXPECT_TRUE(m_reload);
        EXPECT_EQ(m_error, "The Zib Tam log needs to be reloaded.");
        ASSERT_TRUE(Load()) << m_error;
        EXPECT_EQ(m_messages.size(), 6u);
    }
}

TEST_F(LogTrackerTest, BrokenAppendResetsTheTracker)
{
    Append("1");
    ASSERT_TRUE(Load());
    std::string file = ReadFile(m_path);
    WriteFile(m_path, file.substr(0, file.size() - 6) + "   <message><id>2</id>");
    EXPECT_FALSE(Check());
    EXPECT_TRUE(m_reload);
    EXPECT_EQ(m_error.rfind("Could not interpret the XML log.\n\n", 0), 0u) << m_error;
}

TEST_F(LogTrackerTest, BadFilesGiveClearErrors)
{
    std::string element = FormatMessageElement(MakeMessage("1", "x"));
    std::string full = kHeader + element + "</log>";
    struct Case
    {
        const char* Name;
        std::string Bytes;
        std::string Error;
    };
    const Case cases[] = {
        {"foreign root", "<?xml version=\"1.0\"?>\r\n<messages>" + element + "</messages>",
         "Could not interpret the XML log.\n\nCould not find the <log> tag"},
        {"cut in a message", full.substr(0, 200),
         "Could not interpret the XML log.\n\nUnexpected end of file.\nOffset: 200"},
        {"cut after a message", kHeader + element,
         "Could not interpret the XML log.\n\nOpening and closing tags are out of sync (2).\n"
         "\nOffset: " +
             std::to_string(kHeader.size() + element.size())},
        {"empty file", "",
         "Could not interpret the XML log.\n\nUnexpected end of file found in read.\nOffset: 0"},
        {"bad entity", kHeader + "<message><text>&bad;</text></message></log>",
         "Could not interpret the XML log.\n\nThe entity \"&bad;\" is not valid.\nOffset: " +
             std::to_string(kHeader.size() + 20)},
    };
    for (const Case& c : cases) {
        WriteFile(m_path, c.Bytes);
        EXPECT_FALSE(Load()) << c.Name;
        EXPECT_EQ(m_error, c.Error) << c.Name;
        EXPECT_TRUE(m_messages.empty()) << c.Name;
        EXPECT_FALSE(m_tracker.IsLoaded()) << c.Name;
        EXPECT_EQ(ReadFile(m_path), c.Bytes) << c.Name;
    }

    std::filesystem::remove(m_path);
    std::filesystem::create_directory(m_path);
    EXPECT_FALSE(Load());
    EXPECT_EQ(m_error, "Could not open the Zib Tam log.");
}

TEST_F(LogTrackerTest, ReadsWhatTheLogHolds)
{
    // Elements in other places, raw bytes above 127, leading blanks.
    WriteFile(m_path, kHeader + "<note>x</note>"
                                "<message><id>7</id><from>  Ren\xe9</from><to>all users</to>"
                                "<extra><id>9</id></extra></message>"
                                "<other><id>8</id></other>"
                                "</log>");
    ASSERT_TRUE(Load()) << m_error;
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].Id, "7");
    EXPECT_EQ(m_messages[0].Sender, "Ren\xe9");
    EXPECT_TRUE(m_messages[0].AllUsers);
    EXPECT_FALSE(m_messages[0].Time.HasYear);
}

// Packed as it is read, a log gives what it gives as message objects: the same messages, or
// the same error and none of the messages before it.
TEST_F(LogTrackerTest, PackedLoadGivesWhatTheObjectLoadGives)
{
    std::string two = FormatMessageElement(MakeMessage("1", "one")) +
                      FormatMessageElement(MakeMessage("2", "two <&>\nlines"));
    struct Case
    {
        const char* Name;
        std::string Bytes;
        size_t Count;
        int CancelFrom = -1;
    };
    const Case cases[] = {
        {"two messages", kHeader + two + "</log>", 2},
        {"elements elsewhere",
         kHeader + "<note>x</note><message><id>7</id><extra><id>9</id>"
                   "</extra></message><other><id>8</id></other></log>",
         1},
        {"empty elements", kHeader + "<message/><message></message></log>", 2},
        {"a message in a message",
         kHeader + "<message><id>1</id><message><id>2</id></message>"
                   "<text>t</text></message></log>",
         1},
        {"cut after two messages", kHeader + two, 0},
        {"bad entity in the second",
         kHeader + FormatMessageElement(MakeMessage("1", "one")) +
             "<message><text>&bad;</text></message></log>",
         0},
        {"foreign root", "<?xml version=\"1.0\"?>\r\n<messages>" + two + "</messages>", 0},
        {"cancelled in the middle", kHeader + two + "</log>", 0, 8},
        {"missing", "", 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(m_path);
        if (std::string_view(c.Name) != "missing")
            WriteFile(m_path, c.Bytes);
        ScriptedProgress objectProgress(c.CancelFrom);
        const bool objectRead = Load(&objectProgress);
        const std::string objectError = m_error;
        CPackedMessages packed;
        packed.Add(MakeMessage("stale", "from before"));
        ScriptedProgress packedProgress(c.CancelFrom);
        EXPECT_EQ(m_tracker.Load(m_path, packed, &packedProgress, m_error), objectRead) << c.Name;
        EXPECT_EQ(m_error, objectError) << c.Name;
        EXPECT_EQ(m_tracker.IsLoaded(), objectRead) << c.Name;
        EXPECT_EQ(m_messages.size(), c.Count) << c.Name;
        EXPECT_EQ(packed.Unpack(0, packed.size()), m_messages) << c.Name;
    }
}

// A log longer than the bytes read at a time is read and parsed a piece at a time. It gives
// what the log read whole gives: the same messages, or the same error for a log that is
// damaged anywhere (a piece that would not read alone sends it back to the whole read).
TEST_F(LogTrackerTest, ALogReadInPiecesGivesWhatItGivesReadWhole)
{
    std::string good = kHeader;
    for (int i = 0; i < 30; ++i)
        good +=
            FormatMessageElement(MakeMessage(std::to_string(i), "text <&> " + std::to_string(i)));
    good += "</log>";
    const std::string element = FormatMessageElement(MakeMessage("x", "inner"));
    const size_t middle = good.find("   <message>", good.size() / 2);
    const auto insert = [&](size_t at, const std::string& what) {
        return good.substr(0, at) + what + good.substr(at);
    };
    const size_t insideText = good.find("<text>", middle) + 6;
    struct Case
    {
        const char* Name;
        std::string Bytes;
        bool Reads; // read whole
    };
    const Case cases[] = {
        {"whole", good, true},
        {"cut short", good.substr(0, good.size() - 200), false},
        {"no closing tag", good.substr(0, good.size() - 6), false},
        {"bad entity in the middle", insert(insideText, "&bad;"), false},
        {"a message line in a text's CDATA",
         good.substr(0, insideText) + "<![CDATA[a\r\n" + element + "b]]>" +
             good.substr(good.find("</text>", insideText)),
         true},
        {"a message in a message", insert(good.find("<text>", middle), element), true},
        {"an element after the root", good + "\r\n" + element, false},
        {"a second root", good + "\r\n<log>\r\n" + element + "</log>", true},
        {"a zero byte", insert(middle, std::string(1, '\0')), false},
        {"a zero byte after the root", good + std::string(1, '\0') + "junk", true},
        {"foreign root", "<?xml version=\"1.0\"?>\r\n<messages>\r\n" + good.substr(kHeader.size()),
         false},
    };
    for (const Case& c : cases) {
        WriteFile(m_path, c.Bytes);
        CLogTracker whole(false);
        std::vector<ChatMessage> wholeMessages;
        std::string wholeError;
        const bool wholeRead = whole.Load(m_path, wholeMessages, nullptr, wholeError);
        EXPECT_EQ(wholeRead, c.Reads) << c.Name << ": " << wholeError;
        for (size_t chunk : {64, 700, 5000}) {
            CLogTracker pieces(false, chunk);
            std::vector<ChatMessage> messages;
            std::string error;
            EXPECT_EQ(pieces.Load(m_path, messages, nullptr, error), wholeRead)
                << c.Name << ", " << chunk;
            EXPECT_EQ(error, wholeError) << c.Name << ", " << chunk;
            EXPECT_EQ(messages, wholeMessages) << c.Name << ", " << chunk;
            EXPECT_EQ(pieces.Fingerprint(), whole.Fingerprint()) << c.Name << ", " << chunk;
            EXPECT_EQ(pieces.KnownLength(), whole.KnownLength()) << c.Name << ", " << chunk;
            CPackedMessages packed;
            EXPECT_EQ(pieces.Load(m_path, packed, nullptr, error), wholeRead)
                << c.Name << ", " << chunk;
            EXPECT_EQ(packed.Unpack(0, packed.size()), wholeMessages) << c.Name << ", " << chunk;
        }
    }
}

// While a long log is parsed, a writer appends without waiting for it; the load gives the
// log as it was, and the next check the message appended meanwhile.
TEST_F(LogTrackerTest, AWriterAppendsWhileALongLogIsParsed)
{
    for (int i = 0; i < 20; ++i)
        Append(std::to_string(i));
    class CAppendingProgress : public IHistoryProgress
    {
    public:
        explicit CAppendingProgress(std::function<void()> append) : m_append(std::move(append)) {}
        void SetStatusText(const std::string&) override {}
        bool IsCancelled() override
        {
            if (++m_asked == 10)
                m_append();
            return false;
        }

    private:
        std::function<void()> m_append;
        int m_asked = 0;
    };
    bool appended = false;
    CAppendingProgress progress([&] {
        // No wait: the reader holds no lock while it parses.
        CLogWriter writer([] { return true; });
        writer.SetLockWaits(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
        appended = writer.AppendToLog(m_path, {MakeMessage("new", "meanwhile")}, m_error);
    });
    CLogTracker tracker(false, 1000);
    ASSERT_TRUE(tracker.Load(m_path, m_messages, &progress, m_error)) << m_error;
    EXPECT_TRUE(appended) << m_error;
    EXPECT_EQ(m_messages.size(), 20u);
    ASSERT_TRUE(tracker.CheckForChanges(m_messages, nullptr, m_error, m_reload)) << m_error;
    EXPECT_FALSE(m_reload);
    EXPECT_EQ(ReadIds(), (Ids{"new"}));
}

TEST_F(LogTrackerTest, CancelFailsWithoutErrorAndLosesNothing)
{
    for (int i = 0; i < 5; ++i)
        Append(std::to_string(i));
    // Cancelled before, between and after the reads, and in the middle of the parse.
    for (int from : {0, 1, 2, 4}) {
        ScriptedProgress progress(from);
        EXPECT_FALSE(Load(&progress)) << from;
        EXPECT_EQ(m_error, "") << from;
        EXPECT_TRUE(m_messages.empty()) << from;
    }
    ASSERT_TRUE(Load()) << m_error;
    Append("5");
    Append("6");
    ScriptedProgress midParse(6);
    EXPECT_FALSE(Check(&midParse));
    EXPECT_EQ(m_error, "");
    EXPECT_FALSE(m_reload);
    ASSERT_TRUE(Check()) << m_error;
    EXPECT_EQ(ReadIds(), (Ids{"5", "6"}));
}

TEST_F(LogTrackerTest, CheckBeforeLoadAsksForReload)
{
    EXPECT_TRUE(Check());
    EXPECT_TRUE(m_reload);
    EXPECT_TRUE(m_messages.empty());
}

} // namespace

TEST_F(LogTrackerTest, TheTailOfALargeLogReadsAsItsNewestWholeMessages)
{
    std::vector<ChatMessage> log;
    for (int i = 0; i < 300; ++i)
        log.push_back(
            MakeMessage(std::to_string(i), std::string(100, 'a') + " <&> " + std::to_string(i)));
    ASSERT_TRUE(m_writer.AppendToLog(m_path, log, m_error)) << m_error;
    std::vector<ChatMessage> tail;
    ASSERT_TRUE(CLogTracker::ReadLogTail(m_path, 4096, tail));
    ASSERT_FALSE(tail.empty());
    EXPECT_EQ(tail.back().Text, log.back().Text);
    const size_t first = log.size() - tail.size();
    EXPECT_EQ(tail.front().Id, log[first].Id);
    EXPECT_EQ(tail.front().Text, log[first].Text);

    // A log under twice the tail is read whole at once anyway.
    EXPECT_FALSE(CLogTracker::ReadLogTail(m_path, 1 << 20, tail));
    EXPECT_FALSE(CLogTracker::ReadLogTail(m_dir.File("missing.xml"), 4096, tail));
}
