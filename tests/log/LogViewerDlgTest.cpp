// The log viewer window offscreen, with the page in the plain text browser.
#include "log/LogViewerDlg.h"

#include "LogTestSupport.h"
#include "TestSupport.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"
#include "view/ChatHistoryEdit.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTextBrowser>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class LogViewerDlgTest : public testing::Test
{
protected:
    TestSettings settings;
    FakePrompt prompt;
    CSystemClock& clock = CSystemClock::Instance();
    CLogWriter writer{[] { return true; }};
    std::string logPath = settings.dir.File("Zib Tam.xml");
    std::unique_ptr<CLogViewerDlg> window;
    CHtmlLogView* view = nullptr;

    void SetUp() override { settings.options.Set(Opt::LogPath, logPath); }
    void Append(const std::vector<ChatMessage>& messages)
    {
        std::string error;
        ASSERT_TRUE(writer.AppendToLog(logPath, messages, error)) << error;
    }
    ChatMessage Now(const std::string& id, const std::string& text)
    {
        ChatMessage message = MakeMessage(id, text);
        message.Time.Set(clock.Now());
        return message;
    }
    void Open()
    {
        view = new CHtmlLogView(settings.options.GetLogTempPath(), nullptr, false);
        window =
            std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false, view, *view);
        window->show();
        RunUntil([&] { return window->Viewer().IsLoaded(); });
    }
    // Runs the event loop until `done` or five seconds have passed.
    bool RunUntil(const std::function<bool()>& done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }
    QString PageText() { return static_cast<QTextBrowser*>(view->Page().Widget())->toPlainText(); }
};

} // namespace

TEST_F(LogViewerDlgTest, ShowsTheLogAsTextAndKeepsBlanksAndMarkupCharacters)
{
    Append({Now("0", "room 4 <the small one>"), Now("1", "three   blanks")});
    Open();
    EXPECT_FALSE(view->UsesWebEngine());
    QString text = PageText();
    EXPECT_TRUE(text.contains(QStringLiteral("room 4 <the small one>"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("three   blanks"))) << text.toStdString();
    EXPECT_TRUE(std::filesystem::exists(settings.options.GetLogTempPath()));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zib Tam Log Viewer"));
    EXPECT_EQ(window->PeriodCombo()->count(), 6);

    window->close(); // the temporary page goes with the window
    EXPECT_FALSE(std::filesystem::exists(settings.options.GetLogTempPath()));
}

TEST_F(LogViewerDlgTest, AMessageAppendedByAnotherWriterShowsWithinAboutASecond)
{
    Append({Now("0", "first")});
    Open();
    Append({Now("1", "second, from the chat window")});
    // The follow timer ticks every second; five seconds leave room for a busy machine.
    EXPECT_TRUE(RunUntil([&] { return view->ShownCount() == 2; }));
    EXPECT_TRUE(PageText().contains(QStringLiteral("second, from the chat window")));
}

TEST_F(LogViewerDlgTest, SearchModeShowsTheResultsAboveTheLogAndEnterGoesToTheLog)
{
    Append({Now("0", "Lunch at noon"), Now("1", "no"), Now("2", "see you at noon")});
    Open();
    EXPECT_TRUE(window->ResultsList()->isHidden());

    std::vector<FindCriteria> answers = {{"", "", "\"AT NOON\""}};
    window->SetFindAsker([&](FindCriteria& criteria) {
        if (answers.empty())
            return false;
        criteria = answers.front();
        answers.erase(answers.begin());
        return true;
    });
    window->Find();
    QListWidget* list = window->ResultsList();
    ASSERT_FALSE(list->isHidden());
    EXPECT_EQ(window->ResultsLabel()->text().remove(QLatin1Char('&')),
              QStringLiteral("Search Results (2 messages found):"));
    EXPECT_EQ(list->count(), 2);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_TRUE(list->item(1)->text().endsWith(QStringLiteral("see you at noon")));
    EXPECT_LT(list->geometry().bottom(), window->HistoryWidget()->geometry().top());
    EXPECT_GE(list->height(), 80);

    list->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(list, &enter);
    EXPECT_TRUE(window->HistoryWidget()->isAncestorOf(QApplication::focusWidget()) ||
                window->HistoryWidget() == QApplication::focusWidget());

    // Nothing found: told, the dialog comes again with the same criteria, then Cancel.
    answers = {{"", "", "dinner"}};
    window->Find();
    EXPECT_TRUE(list->isHidden());
    ASSERT_FALSE(prompt.Messages.empty());
    EXPECT_EQ(prompt.Messages.back().Text, "Zib Tam could not find any messages.");
}

TEST_F(LogViewerDlgTest, DeletingTheLogThenAppendingShowsTheReloadNotice)
{
    Append({Now("0", std::string(600, 'x')), Now("1", "hello")});
    Open();
    std::filesystem::remove(logPath);
    Append({Now("2", "after the deletion")});
    EXPECT_TRUE(RunUntil([&] { return !window->Viewer().IsLoaded(); }));
    EXPECT_TRUE(
        PageText().contains(QStringLiteral("The Zib Tam log has changed and must be reloaded.")));
    EXPECT_TRUE(PageText().contains(QStringLiteral("Reload")));
    window->Viewer().Reload(true);
    EXPECT_EQ(view->ShownCount(), 1u);
}

TEST_F(LogViewerDlgTest, ClassicViewShowsTheRichTextHistoryAndSelectsAResult)
{
    Append({Now("0", "Lunch at noon"), Now("1", "no"), Now("2", "see you at noon")});
    auto* classic = new CClassicLogView(prompt, nullptr);
    window =
        std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false, classic, *classic);
    window->show();
    ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
    CChatHistoryEdit& edit = classic->Edit();
    EXPECT_TRUE(edit.toPlainText().contains(QStringLiteral("see you at noon")));
    EXPECT_EQ(edit.Model().Ranges().size(), 3u);

    window->SetFindAsker([first = true](FindCriteria& criteria) mutable {
        criteria = {"", "", "noon"};
        return std::exchange(first, false);
    });
    window->Find();
    ASSERT_EQ(window->ResultsList()->count(), 2);
    window->ResultsList()->setCurrentRow(1); // the third message
    const MessageRange& range = edit.Model().Ranges()[2];
    EXPECT_EQ(edit.textCursor().selectionStart(), range.Start);
    EXPECT_EQ(edit.textCursor().selectionEnd(), range.End - 1);
    EXPECT_TRUE(edit.textCursor().selectedText().endsWith(QStringLiteral("see you at noon")));

    window->Viewer().Find({}); // ending search mode deselects
    EXPECT_FALSE(edit.textCursor().hasSelection());
}
