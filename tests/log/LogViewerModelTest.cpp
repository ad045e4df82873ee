#include "log/LogViewerModel.h"

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "common/MessageElement.h"
#include "log/LogWriter.h"
#include "platform/Clock.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::time_t LocalNoon(int year, int month, int day)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

MessageTime Day(int year, int month, int day, int hour = 0)
{
    MessageTime time = MakeMessage("x", "").Time;
    time.Year = year;
    time.Month = month;
    time.Day = day;
    time.Hour = hour;
    time.Minute = time.Second = 0;
    return time;
}

ChatMessage At(const std::string& id, const MessageTime& time, const std::string& text = "hello")
{
    ChatMessage message = MakeMessage(id, text);
    message.Time = time;
    return message;
}

} // namespace

TEST(LogPeriod, RowsInComboOrder)
{
    std::vector<std::pair<std::string, int>> rows;
    for (const LogPeriod& period : LogPeriods())
        rows.emplace_back(period.Label, period.Months);
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, int>>{{"(beginning)", 0},
                                                              {"last month", 1},
                                                              {"last three months", 3},
                                                              {"last six months", 6},
                                                              {"last nine months", 9},
                                                              {"last year", 12}}));
    EXPECT_EQ(LogPeriodRow(9), 4);
    EXPECT_EQ(LogPeriodRow(2), 0); // a stored value without a row: from the beginning
}

TEST(LogPeriod, CutOffRollsOverLikeTheCalendar)
{
    struct Case
    {
        int Y, M, D, Months;
        int CutY, CutM, CutD;
    };
    const std::vector<Case> cases = {
        {2026, 3, 31, 1, 2026, 3, 3},   // 31 February is 3 March
        {2024, 3, 31, 1, 2024, 3, 2},   // in a leap year, 2 March
        {2026, 3, 15, 1, 2026, 2, 15},  // an ordinary day
        {2026, 1, 15, 1, 2025, 12, 15}, // back over the year's start
        {2026, 5, 31, 3, 2026, 3, 3},   // three months back from 31 May
        {2024, 2, 29, 12, 2023, 3, 1},  // a year back from a leap day
        {2026, 12, 31, 9, 2026, 3, 31}, {2026, 10, 31, 6, 2026, 5, 1}, // 31 April
    };
    for (const Case& c : cases) {
        std::time_t cutoff = LogPeriodCutoff(LocalNoon(c.Y, c.M, c.D), c.Months);
        std::tm local{};
        localtime_r(&cutoff, &local);
        EXPECT_EQ((std::vector<int>{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                    local.tm_hour, local.tm_min, local.tm_sec}),
                  (std::vector<int>{c.CutY, c.CutM, c.CutD, 0, 0, 0}))
            << c.Y << "-" << c.M << "-" << c.D << " back " << c.Months;
    }
}

TEST(LogPeriod, ShowsFromTheCutOffDayOnAndNothingWithoutATime)
{
    MessageTime unusable = Day(2026, 3, 20);
    unusable.HasSecond = false;
    std::vector<ChatMessage> log = {At("0", Day(2026, 3, 2, 23)), At("1", Day(2026, 3, 3, 0)),
                                    At("2", Day(2026, 3, 31, 9)), At("3", Day(2025, 12, 31)),
                                    At("4", Day(2027, 1, 1)),     At("5", unusable)};
    CHistoryMessageList list;
    list.Set(log);
    list.SetTimeFilter(LogPeriodCutoff(LocalNoon(2026, 3, 31), 1));
    EXPECT_EQ(list.ShownIndex(), (std::vector<int>{-1, 0, 1, -1, 2, -1}));
    list.ClearTimeFilter(); // "(beginning)" shows everything
    EXPECT_EQ(list.Shown().size(), 6u);
}

TEST(LogFind, WordsAreSplitAtBlanksWithQuotedPhrasesWhole)
{
    struct Case
    {
        const char* Text;
        std::vector<std::string> Words;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"  lunch   today ", {"lunch", "today"}},
        {"\"at noon\"", {"at noon"}},
        {"meet \"at noon\" sharp", {"meet", "at noon", "sharp"}},
        {"x\"a b\"y", {"x", "a b", "y"}},
        {"meet \"at noon", {"meet", "at noon"}}, // unclosed: the rest of the text
        {"\"\" a", {"a"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitFindWords(c.Text), c.Words) << c.Text;
}

TEST(LogFind, MatchesSenderRecipientsAndEveryWordWithoutRegardToCase)
{
    std::vector<ChatMessage> log = {
        MakeMessage("0", "Lunch at noon in the Caf\xE9", "Kim"),
        MakeMessage("1", "noon, at the latest", "Owen"),
        MakeMessage("2", "lunch tomorrow", "R.T."),
        MakeMessage("3", "Nothing", "R.T."),
    };
    log[1].Recipients = {"Kim", "Alessandra"};
    log[3].AllUsers = true;
    log[3].Recipients.clear();
    CHistoryMessageList list;
    list.Set(log);
    struct Case
    {
        FindCriteria Criteria;
        std::vector<size_t> Found;
    };
    const std::vector<Case> cases = {
        {{"", "", "lunch"}, {0, 2}},    {{"", "", "LUNCH noon"}, {0}},
        {{"", "", "\"at noon\""}, {0}}, {{"", "", "noon at"}, {0, 1}},
        {{"", "", "caf\xC9"}, {0}}, // Windows-1252 letters fold too
        {{"r.t", "", ""}, {2, 3}},      {{"", "alessandra", ""}, {1}},
        {{"", "all users", ""}, {3}},   {{"", "owen", "lunch"}, {0, 2}},
        {{"nobody", "", ""}, {}},
    };
    for (const Case& c : cases) {
        std::vector<size_t> found;
        for (const FindResult& result : FindMessages(list, c.Criteria, "<a>u</a>: "))
            found.push_back(result.Index);
        EXPECT_EQ(found, c.Found) << c.Criteria.Sender << "|" << c.Criteria.Recipients << "|"
                                  << c.Criteria.Text;
    }
}

TEST(LogFind, ResultsSkipHiddenMessagesAndShowPrefixAndTextOnOneLine)
{
    std::vector<ChatMessage> log = {At("0", Day(2026, 1, 5), "old news"),
                                    At("1", Day(2026, 3, 20), "news\nof today")};
    CHistoryMessageList list;
    list.Set(log);
    list.SetTimeFilter(LogPeriodCutoff(LocalNoon(2026, 3, 31), 1));
    auto results = FindMessages(list, {"", "", "news"}, "u> ");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Index, 1u);
    EXPECT_EQ(results[0].Display, "R.T.> news of today");
    EXPECT_EQ(SearchResultsLabel(1), "Search Results (1 messages found):");
}

TEST(LogPage, KeepsRunsOfBlanksAndShowsMarkupCharactersAsText)
{
    HistoryDisplaySettings settings;
    settings.PrefixFormat = "u: ";
    std::string page = BuildLogPage(
        std::vector<ChatMessage>{MakeMessage("0", "a   b <b>bold</b>\r\nnext")}, settings);
    EXPECT_NE(page.find("<p id=\"msg0\"><span class=\"prefix\">R.T.: </span>"
                        "<span class=\"message\">a &nbsp;&nbsp;b &lt;b&gt;bold&lt;/b&gt;<br>next"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find("msg1"), std::string::npos);

    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteLogPage(dir.File("page.tmp"), page, error)) << error;
    ASSERT_TRUE(WriteLogPage(dir.File("page.tmp"), "short", error)) << error;
    EXPECT_EQ(ReadFile(dir.File("page.tmp")), "short"); // overwritten, not appended to
    EXPECT_FALSE(WriteLogPage(dir.File("no folder/page.tmp"), page, error));
    EXPECT_FALSE(error.empty());
}

namespace {

class FakeView : public ILogHistoryView
{
public:
    std::vector<std::string> Shown; // ids
    std::vector<std::string> Calls;
    int Selected = -2;
    std::string Notice;
    int Settings = 0;

    void ApplySettings(const HistoryDisplaySettings&) override { ++Settings; }
    void ShowMessages(std::span<const ChatMessage> shown, bool append, IHistoryProgress*) override
    {
        if (!append)
            Shown.clear();
        Notice.clear();
        std::string call = append ? "append" : "show";
        for (const ChatMessage& m : shown) {
            Shown.push_back(m.Id);
            call += " " + m.Id;
        }
        Calls.push_back(call);
    }
    void Clear() override
    {
        Shown.clear();
        Calls.push_back("clear");
    }
    void ShowReloadNotice(const std::string& text) override
    {
        Shown.clear();
        Notice = text;
    }
    void SelectMessage(int shownIndex) override { Selected = shownIndex; }
};

class FakeBusy : public ILogBusy
{
public:
    explicit FakeBusy(bool cancel) : m_cancel(cancel) {}
    void SetStatusText(const std::string&) override {}
    bool IsCancelled() override { return m_cancel; }

private:
    bool m_cancel;
};

class FakeHost : public ILogViewerHost
{
public:
    bool CancelBusy = false;
    std::vector<std::string> BusyTexts;
    std::string Label;
    std::vector<std::string> Items;
    bool ResultsShown = false;
    int PeriodRow = -1;
    std::vector<std::string> Trashed;
    bool TrashFails = false;

    std::unique_ptr<ILogBusy> StartBusy(const std::string& text) override
    {
        BusyTexts.push_back(text);
        return std::make_unique<FakeBusy>(CancelBusy);
    }
    void SetStatusText(const std::string&) override {}
    void ShowSearchResults(const std::string& label, const std::vector<std::string>& items) override
    {
        Label = label;
        Items = items;
        ResultsShown = true;
    }
    void HideSearchResults() override { ResultsShown = false; }
    void SelectPeriodRow(int row) override { PeriodRow = row; }
    bool MoveToTrash(const std::string& path, std::string& error) override
    {
        if (TrashFails) {
            error = "Permission denied";
            return false;
        }
        Trashed.push_back(path);
        std::filesystem::remove(path);
        return true;
    }
};

class LogViewerTest : public testing::Test
{
protected:
    TestSettings settings;
    FakePrompt prompt;
    CManualClock clock;
    FakeHost host;
    FakeView view;
    CLogWriter writer{[] { return true; }};
    std::string logPath = settings.dir.File("Zib Tam.xml");
    CLogViewer viewer{settings.options, prompt, clock, host, view};

    void SetUp() override
    {
        settings.options.Set(Opt::LogPath, logPath);
        clock.SetNow(LocalNoon(2026, 3, 31));
    }
    void Append(std::vector<ChatMessage> messages)
    {
        std::string error;
        ASSERT_TRUE(writer.AppendToLog(logPath, messages, error)) << error;
    }
    void StartAndLoad()
    {
        viewer.Start();
        viewer.OnFirstIdle();
    }
};

} // namespace

TEST_F(LogViewerTest, FirstLoadShowsThePeriodOfTheSettings)
{
    MessageTime noTime;
    Append({At("0", Day(2026, 1, 1)), At("1", noTime), At("2", Day(2026, 3, 3))});
    settings.options.Set(Opt::LogHistoryMonths, 1);
    StartAndLoad();
    EXPECT_EQ(host.PeriodRow, 1);
    EXPECT_EQ(view.Settings, 1);
    EXPECT_EQ(host.BusyTexts,
              std::vector<std::string>{"Loading Zib Tam log for the first time..."});
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"2"}));

    viewer.ChoosePeriod(0); // "(beginning)" also shows the message without a time
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(settings.options.Get(Opt::LogHistoryMonths), 0);
    EXPECT_EQ(host.BusyTexts.back(), "Redisplaying Zib Tam log...");
}

TEST_F(LogViewerTest, CancelledRedisplayKeepsThePreviousPeriod)
{
    Append({At("0", Day(2026, 1, 1)), At("1", Day(2026, 3, 30))});
    StartAndLoad();
    host.CancelBusy = true;
    viewer.ChoosePeriod(1);
    EXPECT_EQ(host.PeriodRow, 0);
    EXPECT_EQ(viewer.Months(), 0);
    EXPECT_EQ(settings.options.Get(Opt::LogHistoryMonths), 0);
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"0", "1"}));
}

TEST_F(LogViewerTest, FollowingShowsOnlyTheAppendedMessages)
{
    Append({At("0", Day(2026, 3, 30))});
    StartAndLoad();
    viewer.OnFollowTick();
    EXPECT_EQ(view.Calls.back(), "show 0"); // nothing new, nothing drawn
    Append({At("1", Day(2026, 3, 31)), At("2", Day(2026, 3, 31))});
    viewer.OnFollowTick();
    EXPECT_EQ(view.Calls.back(), "append 1 2");
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"0", "1", "2"}));
}

TEST_F(LogViewerTest, DeletingTheLogThenAppendingAsksForAReload)
{
    Append({At("0", Day(2026, 3, 30), std::string(600, 'x')), At("1", Day(2026, 3, 30))});
    StartAndLoad();
    std::filesystem::remove(logPath);
    Append({At("2", Day(2026, 3, 31))});
    viewer.OnFollowTick();
    EXPECT_EQ(view.Notice, "The Zib Tam log has changed and must be reloaded.");
    EXPECT_FALSE(viewer.IsLoaded());
    viewer.OnFollowTick(); // no more checks until reloaded
    EXPECT_EQ(view.Notice, kLogReloadNotice);

    viewer.Reload(true);
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"2"}));
    EXPECT_EQ(host.BusyTexts.back(), "Reloading the Zib Tam log...");
    EXPECT_EQ(view.Settings, 2);
}

TEST_F(LogViewerTest, DamagedOrUnreadableLogIsReportedAndTheViewerStaysUsable)
{
    WriteFile(logPath, std::string(kLogHeader) + "<message><text>cut");
    StartAndLoad();
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Caption, "Zib Tam Log Viewer");
    EXPECT_EQ(prompt.Messages[0].Text.rfind("Could not interpret the XML log.\n\n", 0), 0u);
    EXPECT_NE(prompt.Messages[0].Text.find("Offset: "), std::string::npos);
    EXPECT_TRUE(view.Shown.empty());

    std::filesystem::remove(logPath);
    Append({At("0", Day(2026, 3, 30))});
    viewer.Reload(false);
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"0"}));

    std::filesystem::permissions(logPath, std::filesystem::perms::none);
    int status = RunAsOrdinaryUser([&] {
        FakePrompt childPrompt;
        CLogViewer child{settings.options, childPrompt, clock, host, view};
        child.Start();
        child.OnFirstIdle();
        return childPrompt.Messages.size() == 1 &&
                       childPrompt.Messages[0].Text == "Could not open the Zib Tam log."
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(LogViewerTest, CancelledLoadShowsNothingAndSaysNothing)
{
    Append({At("0", Day(2026, 3, 30))});
    host.CancelBusy = true;
    StartAndLoad();
    EXPECT_FALSE(viewer.IsLoaded());
    EXPECT_TRUE(view.Shown.empty());
    EXPECT_TRUE(prompt.Messages.empty());
    host.CancelBusy = false;
    viewer.OnFirstIdle();
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"0"}));
}

TEST_F(LogViewerTest, FindSelectsShownMessagesAndFollowsThePeriod)
{
    Append({At("0", Day(2026, 1, 2), "Lunch"), At("1", Day(2026, 3, 20), "lunch?"),
            At("2", Day(2026, 3, 21), "no")});
    StartAndLoad();
    EXPECT_EQ(viewer.Find({"", "", "LUNCH"}), CLogViewer::FindOutcome::Found);
    EXPECT_TRUE(host.ResultsShown);
    EXPECT_EQ(host.Label, "Search Results (2 messages found):");
    EXPECT_EQ(view.Selected, -1);
    viewer.SelectResult(1);
    EXPECT_EQ(view.Selected, 1);

    viewer.ChoosePeriod(1); // the search runs again on what the period shows
    EXPECT_EQ(host.Label, "Search Results (1 messages found):");
    viewer.SelectResult(0);
    EXPECT_EQ(view.Selected, 0); // message 1 is the first shown now

    EXPECT_EQ(viewer.Find({"", "", "dinner"}), CLogViewer::FindOutcome::NotFound);
    EXPECT_FALSE(host.ResultsShown);
    ASSERT_EQ(prompt.Messages.size(), 1u);
    EXPECT_EQ(prompt.Messages[0].Text, "Zib Tam could not find any messages.");
    EXPECT_EQ(prompt.Messages[0].Caption, "Zib Tam Log Viewer");

    viewer.Find({"", "", "lunch"});
    EXPECT_EQ(viewer.Find({}), CLogViewer::FindOutcome::Cleared);
    EXPECT_FALSE(viewer.InSearchMode());
    EXPECT_EQ(view.Selected, -1);
}

TEST_F(LogViewerTest, DeleteLogMovesLogAndPageToTheTrashAndReloads)
{
    Append({At("0", Day(2026, 3, 30))});
    StartAndLoad();
    WriteFile(settings.options.GetLogTempPath(), "<html></html>");

    prompt.Answers = {PromptAnswer::No};
    viewer.DeleteLog();
    EXPECT_TRUE(host.Trashed.empty());

    host.TrashFails = true;
    prompt.Answers = {PromptAnswer::Yes, PromptAnswer::Ok};
    viewer.DeleteLog();
    EXPECT_EQ(prompt.Messages.back().Text,
              "Zib Tam was unable to move your log file to the Recycle Bin.\n\nPermission denied");

    host.TrashFails = false;
    prompt.Answers = {PromptAnswer::Yes};
    viewer.DeleteLog();
    EXPECT_EQ(host.Trashed, (std::vector<std::string>{logPath, settings.options.GetLogTempPath()}));
    EXPECT_TRUE(viewer.IsLoaded());
    EXPECT_TRUE(view.Shown.empty());

    Append({At("1", Day(2026, 3, 31))}); // a new log after the deletion is followed
    viewer.OnFollowTick();
    EXPECT_EQ(view.Shown, (std::vector<std::string>{"1"}));

    WriteFile(settings.options.GetLogTempPath(), "<html></html>");
    viewer.Close();
    EXPECT_FALSE(std::filesystem::exists(settings.options.GetLogTempPath()));
}

TEST(LogPage, AppendedParagraphsMakeTheSamePageAsAWholeRebuild)
{
    HistoryDisplaySettings settings;
    settings.PrefixFormat = "u: ";
    std::vector<ChatMessage> all = {MakeMessage("0", "one <p id=\"msg9\"> two"),
                                    MakeMessage("1", "second"), MakeMessage("2", "third\nline")};
    TempDir dir;
    std::string path = dir.File("page.tmp");
    std::string error;
    ASSERT_TRUE(WriteLogPage(path, BuildLogPage(std::span(all).first(1), settings), error));
    std::string paragraphs = BuildLogParagraphs(std::span(all).subspan(1), 1, settings);
    ASSERT_TRUE(AppendToLogPage(path, paragraphs, error)) << error;
    EXPECT_EQ(ReadFile(path), BuildLogPage(all, settings));

    WriteFile(path, "not a page");
    EXPECT_FALSE(AppendToLogPage(path, paragraphs, error));
    EXPECT_EQ(ReadFile(path), "not a page");

    // A page of older messages opens at its start: only its scroll to the end goes.
    const std::string page = BuildLogPage(all, settings);
    const std::string atStart = OpenLogPageAtStart(page);
    EXPECT_NE(page.find("document.body.scrollHeight)\""), std::string::npos);
    EXPECT_EQ(atStart.find("document.body.scrollHeight)\""), std::string::npos);
    EXPECT_NE(atStart.find("function SelMsg"), std::string::npos);
    EXPECT_LT(page.size() - atStart.size(), 64u);
}

TEST_F(LogViewerTest, ALargeLogShowsItsNewestMessagesBeforeTheWholeOfItIsRead)
{
    std::vector<ChatMessage> log;
    for (int i = 0; i < 2000; ++i) {
        ChatMessage message = At(std::to_string(i), Day(2026, 3, 30));
        message.Text = std::string(400, 'x') + " " + std::to_string(i);
        log.push_back(message);
    }
    log[1999].Time = Day(2026, 1, 1); // outside the period: not shown early either
    Append(log);
    settings.options.Set(Opt::LogHistoryMonths, 1);
    StartAndLoad();
    ASSERT_EQ(view.Calls.size(), 3u);
    EXPECT_EQ(view.Calls[0], "clear");
    // First the newest few (whole messages, the period applied), then all of them.
    std::istringstream early(view.Calls[1]);
    std::string word;
    std::vector<std::string> ids;
    early >> word;
    EXPECT_EQ(word, "show");
    while (early >> word)
        ids.push_back(word);
    ASSERT_GT(ids.size(), 10u);
    EXPECT_LT(ids.size(), 1000u);
    EXPECT_EQ(ids.back(), "1998");
    EXPECT_EQ(ids.front(), std::to_string(1999 - ids.size()));
    EXPECT_EQ(view.Shown.size(), 1999u);
    EXPECT_TRUE(viewer.IsLoaded());

    // A reload the user cancels leaves nothing shown, the newest included.
    host.CancelBusy = true;
    viewer.Reload(false);
    EXPECT_FALSE(viewer.IsLoaded());
    EXPECT_TRUE(view.Shown.empty());
}
