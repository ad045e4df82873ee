// The log viewer window offscreen, with the page in the plain text browser.
#include "log/LogViewerDlg.h"

#include "LogTestSupport.h"
#include "PaletteSupport.h"
#include "TestSupport.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"
#include "view/ChatHistoryEdit.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
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

TEST_F(LogViewerDlgTest, ClassicViewShowsTheReloadNoticeAndItsLinkReloads)
{
    Append({Now("0", std::string(600, 'x')), Now("1", "hello")});
    auto* classic = new CClassicLogView(prompt, nullptr);
    window =
        std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false, classic, *classic);
    window->show();
    ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
    std::filesystem::remove(logPath);
    Append({Now("2", "after the deletion")});
    ASSERT_TRUE(RunUntil([&] { return !window->Viewer().IsLoaded(); }));
    EXPECT_EQ(classic->NoticeText(),
              QStringLiteral("The Zib Tam log has changed and must be reloaded.  Reload."));
    EXPECT_EQ(classic->RowCount(), 0);
    // A click on the link's word reloads.
    for (int x = 0; x < classic->viewport()->width() && !window->Viewer().IsLoaded(); x += 4)
        classic->ClickAt(QPoint(x, 8));
    EXPECT_TRUE(window->Viewer().IsLoaded());
    ASSERT_EQ(classic->RowCount(), 1);
    EXPECT_TRUE(classic->RowText(0).endsWith(QStringLiteral("after the deletion")));
}

TEST_F(LogViewerDlgTest, ClassicViewShowsTheRichTextHistoryAndSelectsAResult)
{
    Append({Now("0", "Lunch at noon"), Now("1", "no"), Now("2", "see you at noon")});
    auto* classic = new CClassicLogView(prompt, nullptr);
    window =
        std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false, classic, *classic);
    window->show();
    ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
    ASSERT_EQ(classic->RowCount(), 3);
    EXPECT_TRUE(classic->RowText(2).endsWith(QStringLiteral("see you at noon")));
    // The keys scroll the log, not the period above it (End would choose "last year").
    EXPECT_EQ(window->focusWidget(), classic);

    window->SetFindAsker([first = true](FindCriteria& criteria) mutable {
        criteria = {"", "", "noon"};
        return std::exchange(first, false);
    });
    window->Find();
    ASSERT_EQ(window->ResultsList()->count(), 2);
    EXPECT_EQ(classic->SelectedRow(), -1);
    // The list has the focus and nothing selected: the first Down takes the first result.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(window->ResultsList(), &down);
    EXPECT_EQ(window->ResultsList()->currentRow(), 0);
    EXPECT_EQ(classic->SelectedRow(), 0);
    QApplication::sendEvent(window->ResultsList(), &down);
    EXPECT_EQ(window->ResultsList()->currentRow(), 1);
    EXPECT_EQ(classic->SelectedRow(), 2);                             // the third message
    EXPECT_EQ(classic->accessibleDescription(), classic->RowText(2)); // for screen readers

    window->Viewer().Find({}); // ending search mode deselects
    EXPECT_EQ(classic->SelectedRow(), -1);
}

TEST_F(LogViewerDlgTest, ClassicViewOfALargeLogLaysOutOnlyTheRowsOnScreen)
{
    std::vector<ChatMessage> log;
    for (int i = 0; i < 20000; ++i)
        log.push_back(
            Now(std::to_string(i), i == 3 ? "the oldest hit" : "message " + std::to_string(i)));
    Append(log);
    auto* classic = new CClassicLogView(prompt, nullptr);
    window =
        std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false, classic, *classic);
    window->resize(640, 480);
    window->show();
    ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
    QApplication::processEvents();
    // The newest messages at once, and only what is on screen laid out.
    EXPECT_EQ(classic->RowsOnScreen().second, 19999);
    EXPECT_LT(classic->LaidOutRows(), 100);

    // A hit among the oldest messages scrolls there.
    window->SetFindAsker([first = true](FindCriteria& criteria) mutable {
        criteria = {"", "", "oldest hit"};
        return std::exchange(first, false);
    });
    window->Find();
    ASSERT_EQ(window->ResultsList()->count(), 1);
    window->ResultsList()->setCurrentRow(0);
    auto [first, last] = classic->RowsOnScreen();
    EXPECT_LE(first, 3);
    EXPECT_GE(last, 3);
    EXPECT_EQ(classic->SelectedRow(), 3);

    // Reading old messages, a new one does not move the view; at the end it follows.
    Append({Now("20000", "while reading old ones")});
    window->Viewer().OnFollowTick();
    ASSERT_EQ(classic->RowCount(), 20001);
    EXPECT_EQ(classic->RowsOnScreen().first, first);
    classic->verticalScrollBar()->setValue(classic->verticalScrollBar()->maximum());
    Append({Now("20001", "at the end")});
    window->Viewer().OnFollowTick();
    EXPECT_EQ(classic->RowsOnScreen().second, 20001);
    EXPECT_TRUE(classic->RowText(20001).endsWith(QStringLiteral("at the end")));
    EXPECT_LT(classic->LaidOutRows(), 500);
}

// The viewer holds the log once and the view reads it there: following a log past the room
// left for it moves what the view reads, with and without a period that leaves some out, and
// when the messages that make it move are all left out.
TEST_F(LogViewerDlgTest, BothViewsFollowALogThatOutgrowsItsRoom)
{
    struct Case
    {
        int months;
        bool oldFirst;  // the log starts with a message from last year
        size_t oldLast; // then this many more from last year come in
    };
    for (const bool classicView : {true, false}) {
        for (const Case& c : {Case{0, true, 0}, Case{1, true, 0}, Case{1, false, 200}}) {
            SCOPED_TRACE(std::string(classicView ? "classic" : "page") + " view, " +
                         std::to_string(c.months) + " months, " + std::to_string(c.oldLast) +
                         " old last");
            window.reset();
            std::filesystem::remove(logPath);
            settings.options.Set(Opt::LogHistoryMonths, c.months);
            ChatMessage old = MakeMessage("old", "from last year");
            old.Time.Set(clock.Now() - 400 * 86400);
            std::vector<ChatMessage> log;
            std::vector<std::string> expected;
            if (c.oldFirst) {
                log.push_back(old);
                if (c.months == 0)
                    expected.push_back(old.Text);
            }
            for (int i = 0; i < 10; ++i) {
                log.push_back(Now(std::to_string(i), "message " + std::to_string(i)));
                expected.push_back(log.back().Text);
            }
            Append(log);
            CClassicLogView* classic = nullptr;
            if (classicView) {
                classic = new CClassicLogView(prompt, nullptr);
                window = std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false,
                                                         classic, *classic);
                window->show();
                ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
            } else {
                Open();
            }
            for (int round = 0; round < 3; ++round) {
                std::vector<ChatMessage> more;
                for (int i = 0; i < 40; ++i) {
                    const std::string id = std::to_string(10 + round * 40 + i);
                    more.push_back(Now(id, "message " + id));
                    expected.push_back(more.back().Text);
                }
                Append(more);
                window->Viewer().OnFollowTick();
            }
            if (c.oldLast > 0) {
                std::vector<ChatMessage> more(c.oldLast, old);
                Append(more);
                window->Viewer().OnFollowTick();
                if (c.months == 0)
                    expected.insert(expected.end(), c.oldLast, old.Text);
                // What the view read before is gone now: it reads the messages again.
                if (classic)
                    classic->ApplySettings(LogDisplaySettings(settings.options));
                else
                    view->ApplySettings(LogDisplaySettings(settings.options));
            }
            QStringList shown;
            if (classic) {
                for (int row = 0; row < classic->RowCount(); ++row)
                    shown.append(classic->RowText(row));
            } else {
                shown = PageText().split(QLatin1Char('\n'));
            }
            ASSERT_EQ(shown.size(), static_cast<int>(expected.size()));
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_TRUE(
                    shown[static_cast<int>(i)].endsWith(QString::fromStdString(expected[i])))
                    << shown[static_cast<int>(i)].toStdString();
        }
    }
}

TEST_F(LogViewerDlgTest, PlainPageFollowsTheLogByAppendingAndLeavesAScrolledUpViewWhereItIs)
{
    std::vector<ChatMessage> log;
    for (int i = 0; i < 200; ++i)
        log.push_back(Now(std::to_string(i), "message " + std::to_string(i)));
    Append(log);
    Open();
    auto* page = static_cast<QTextBrowser*>(view->Page().Widget());
    QScrollBar* bar = page->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum()); // opened at the end

    // New messages go in at the end; the paragraphs before them are not written again.
    int firstChanged = -1;
    QObject::connect(page->document(), &QTextDocument::contentsChange, page,
                     [&](int position, int, int) {
                         if (firstChanged < 0 || position < firstChanged)
                             firstChanged = position;
                     });
    const int endBefore = page->document()->characterCount() - 1;
    bar->setValue(0); // the user reads the oldest messages
    Append({Now("200", "while scrolled up")});
    window->Viewer().OnFollowTick();
    ASSERT_EQ(view->ShownCount(), 201u);
    EXPECT_GE(firstChanged, endBefore);
    EXPECT_TRUE(PageText().endsWith(QStringLiteral("while scrolled up")));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(page->document()->blockCount(), 201); // one paragraph per message

    // At the end, the view follows.
    bar->setValue(bar->maximum());
    Append({Now("201", "at the end")});
    window->Viewer().OnFollowTick();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogViewerDlgTest, PlainPageDisplayCanBeCancelledAndShownAfterAll)
{
    CHtmlLogView plain(settings.options.GetLogTempPath(), nullptr, false);
    plain.show();
    std::vector<ChatMessage> messages;
    for (int i = 0; i < 3000; ++i)
        messages.push_back(Now(std::to_string(i), "message " + std::to_string(i)));
    ScriptedProgress cancelAtOnce(0);
    plain.ShowMessages(messages, false, &cancelAtOnce);
    EXPECT_GE(cancelAtOnce.Asked, 1);
    auto* page = static_cast<QTextBrowser*>(plain.Page().Widget());
    EXPECT_TRUE(page->toPlainText().startsWith(QString::fromLatin1(kNotDisplayedNotice)))
        << page->toPlainText().left(200).toStdString();

    // Its "Display" link shows them after all.
    emit page->anchorClicked(QUrl(QStringLiteral("zibtam:Display")));
    EXPECT_EQ(page->document()->blockCount(), 3000);
    EXPECT_TRUE(page->toPlainText().endsWith(QStringLiteral("message 2999")));
}

TEST_F(LogViewerDlgTest, HelpOpensTheAboutBoxAndTheFindDialogShowsItsWholeTitle)
{
    Open();
    QAction* about = nullptr;
    for (QAction* menu : window->menuBar()->actions())
        if (menu->text() == QStringLiteral("&Help") && !menu->menu()->actions().isEmpty())
            about = menu->menu()->actions().front();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About Zib Tam 2.5"));
    QWidget* aboutParent = nullptr;
    window->SetAboutRunner([&](QWidget* parent) { aboutParent = parent; });
    about->trigger();
    EXPECT_EQ(aboutParent, window.get());
    EXPECT_TRUE(prompt.Messages.empty()); // not a message box of its own

    // A title bar's font is larger and bold; its buttons take room beside the title.
    int width = 0;
    QString title;
    QTimer::singleShot(0, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            width = dialog->width();
            title = dialog->windowTitle();
            dialog->close();
        }
    });
    FindCriteria criteria;
    EXPECT_FALSE(AskFindCriteria(window.get(), criteria));
    EXPECT_EQ(title, QStringLiteral("Find Zib Tam Message"));
    QFont titleFont = window->font();
    titleFont.setBold(true);
    EXPECT_GT(width, QFontMetrics(titleFont).horizontalAdvance(title) + 100);
}

TEST_F(LogViewerDlgTest, BothViewsAreReadableInADarkPaletteAndALightOne)
{
    Append({Now("0", "Lunch at noon?"), Now("1", "The build is green again.")});
    const QPalette light = QApplication::palette();
    for (const bool dark : {true, false}) {
        for (const bool classic : {true, false}) {
            SCOPED_TRACE(std::string(dark ? "dark" : "light") + (classic ? " classic" : " page"));
            QApplication::setPalette(dark ? DarkPalette() : light);
            // The program takes the system's window colour from the palette's base.
            const QColor base = QApplication::palette().color(QPalette::Base);
            settings.system.Window =
                static_cast<uint32_t>(base.red() | base.green() << 8 | base.blue() << 16);
            QWidget* viewport = nullptr;
            if (classic) {
                auto* history = new CClassicLogView(prompt, nullptr);
                window = std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false,
                                                         history, *history);
                viewport = history->viewport();
            } else {
                view = new CHtmlLogView(settings.options.GetLogTempPath(), nullptr, false);
                window = std::make_unique<CLogViewerDlg>(settings.options, prompt, clock, false,
                                                         view, *view);
                viewport = static_cast<QTextBrowser*>(view->Page().Widget())->viewport();
            }
            window->resize(640, 480);
            window->show();
            ASSERT_TRUE(RunUntil([&] { return window->Viewer().IsLoaded(); }));
            QApplication::processEvents();
            const QImage picture = viewport->grab().toImage();
            EXPECT_EQ(BackgroundOf(picture).lightness() < 128, dark);
            EXPECT_GE(TextContrast(picture), 4.5);
            const QString folder = qEnvironmentVariable("ZIBTAM_SCREENSHOTS");
            if (!folder.isEmpty())
                window->grab().save(folder + QStringLiteral("/logviewer-%1-%2.png")
                                                 .arg(QLatin1String(classic ? "classic" : "plain"),
                                                      QLatin1String(dark ? "dark" : "light")));
            window.reset();
        }
    }
    QApplication::setPalette(light);
}

namespace {

// A page that loads until told it has painted, counting how often it is asked.
class CLoadingPage : public IWebPageView
{
public:
    QWidget* Widget() override { return nullptr; }
    void LoadFile(const QString&) override {}
    void SetHtml(const QString&) override {}
    bool AppendHtml(const QString&) override { return false; }
    bool PrependHtml(const QString&) override { return false; }
    bool AppendNewerHtml(const QString&) override { return false; }
    void SetMoreHandler(std::function<void(bool)>) override {}
    void SetEdgeHandler(std::function<void(bool)>) override {}
    void ScrollToStart() override {}
    void SelectMessage(int) override {}
    void SetLinkHandler(std::function<void(const QUrl&)>) override {}
    bool IsLoading() const override
    {
        ++Asked;
        return Loading;
    }
    bool IsWorking() const override { return Working; }
    void SetStateHandler(std::function<void()> handler) override { State = std::move(handler); }

    void Change(bool loading, bool working)
    {
        Loading = loading;
        Working = working;
        if (State)
            State();
    }

    mutable int Asked = 0;
    bool Loading = true;
    bool Working = true;
    std::function<void()> State;
};

} // namespace

// The wait for the page before a long load sleeps between events (a loop that asks the page
// over and over takes a processor from the page's own process), and ends when the page has
// painted or failed, or at its limit.
TEST_F(LogViewerDlgTest, WaitingForThePageSleepsUntilItHasPaintedOrFailed)
{
    struct Case
    {
        const char* Name;
        bool Loading;
        bool Working;
    };
    for (const Case& c : {Case{"painted", false, true}, Case{"failed", true, false}}) {
        CLoadingPage page;
        bool late = false;
        QTimer change;
        change.setSingleShot(true);
        QObject::connect(&change, &QTimer::timeout, [&] { page.Change(c.Loading, c.Working); });
        change.start(50);
        QTimer lateTimer;
        lateTimer.setSingleShot(true);
        QObject::connect(&lateTimer, &QTimer::timeout, [&] { late = true; });
        lateTimer.start(2000);
        WaitForPage(page, 4000);
        EXPECT_EQ(page.Loading, c.Loading) << c.Name; // not before the change
        EXPECT_FALSE(late) << c.Name;                 // nor long after it
        EXPECT_LT(page.Asked, 10) << c.Name;
        EXPECT_FALSE(page.State) << c.Name;
    }
    CLoadingPage never;
    WaitForPage(never, 50);
    EXPECT_TRUE(never.Loading);
    EXPECT_LT(never.Asked, 10);
}
