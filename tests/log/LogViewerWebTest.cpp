// The log viewer with the web engine under X11: the page, SelMsg and the search layout.
// With ZIBTAM_SCREENSHOTS set to a folder, the window is saved there as PNG files.
#include "LogTestSupport.h"
#include "PaletteSupport.h"
#include "TestSupport.h"
#include "log/LogViewerDlg.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QScreen>
#include <QTest>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace {

bool RunUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    // What was seen, not asked again: a page that a newer load replaces can lose it.
    bool seen = false;
    while (!(seen = done()) && timer.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return seen;
}

void Settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

QVariant RunScript(QWebEngineView* web, const QString& script)
{
    QVariant result;
    bool done = false;
    web->page()->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    RunUntil([&] { return done; }, 10000);
    return result;
}

void Screenshot(QWidget* window, const char* name)
{
    QString folder = qEnvironmentVariable("ZIBTAM_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    Settle(1000);
    window->screen()
        ->grabWindow(0)
        .copy(window->frameGeometry())
        .save(folder + QLatin1Char('/') + QString::fromLatin1(name));
}

} // namespace

TEST(LogViewerWeb, ShowsThePageSelectsAMessageAndSearches)
{
    TestSettings settings;
    FakePrompt prompt;
    std::string logPath = settings.dir.File("Zib Tam.xml");
    settings.options.Set(Opt::LogPath, logPath);
    CLogWriter writer{[] { return true; }};
    const char* const names[] = {"Owen", "R.T. Holm", "Kim", "Alessandra"};
    const char* const texts[] = {"Lunch at noon?", "The build is green again.",
                                 "Who has the key to room 4 <the small one>?",
                                 "Meeting moved to three   o'clock, bring the figures."};
    std::vector<ChatMessage> log;
    std::time_t now = CSystemClock::Instance().Now();
    for (int i = 0; i < 40; ++i) {
        ChatMessage message = MakeMessage(std::to_string(i), texts[i % 4], names[i % 4]);
        message.Recipients = {names[(i + 1) % 4]};
        message.Time.Set(now - (40 - i) * 600);
        log.push_back(message);
    }
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(logPath, log, error)) << error;

    auto* view = new CHtmlLogView(settings.options.GetLogTempPath(), nullptr);
    ASSERT_TRUE(view->UsesWebEngine()) << "the web engine module did not load";
    CLogViewerDlg window(settings.options, prompt, CSystemClock::Instance(), false, view, *view);
    window.resize(800, 600);
    window.show();
    auto* web = qobject_cast<QWebEngineView*>(view->Page().Widget());
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(RunUntil([&] {
        return window.Viewer().IsLoaded() &&
               RunScript(web, QStringLiteral("document.getElementsByTagName('p').length"))
                       .toInt() == 40;
    })) << "the page did not load";

    // "<" is a character, the three blanks stay, and the page scrolled to its end.
    EXPECT_EQ(RunScript(web, QStringLiteral("document.getElementById('msg2').innerText"))
                  .toString()
                  .contains(QStringLiteral("<the small one>")),
              true);
    EXPECT_TRUE(RunScript(web, QStringLiteral("document.getElementById('msg3').innerText"))
                    .toString()
                    .contains(QStringLiteral("three \u00A0 o'clock")) ||
                RunScript(web, QStringLiteral("document.getElementById('msg3').innerText"))
                    .toString()
                    .contains(QStringLiteral("three \u00A0\u00A0o'clock")));
    EXPECT_TRUE(RunUntil(
        [&] { return RunScript(web, QStringLiteral("window.scrollY > 0")).toBool(); }, 5000));
    Screenshot(&window, "logviewer-html.png");

    // The window opens with the keyboard in the page, and Ctrl+F there opens Find.
    EXPECT_TRUE(web->isAncestorOf(window.focusWidget()) || window.focusWidget() == web);
    int asked = 0;
    window.SetFindAsker([&](FindCriteria&) {
        ++asked;
        return false;
    });
    window.activateWindow();
    RunUntil([&] { return QApplication::focusWidget() != nullptr; }, 5000);
    QTest::keyClick(window.focusWidget(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(RunUntil([&] { return asked > 0; }, 5000));
    EXPECT_EQ(asked, 1);

    window.SetFindAsker([first = true](FindCriteria& criteria) mutable {
        criteria = {"", "", "room 4"};
        return std::exchange(first, false);
    });
    window.Find();
    ASSERT_EQ(window.ResultsList()->count(), 10);
    window.ResultsList()->setCurrentRow(2); // message 10
    EXPECT_TRUE(RunUntil(
        [&] { return RunScript(web, QStringLiteral("fg_iPrevMsg")).toInt() == 10; }, 5000));
    EXPECT_EQ(RunScript(web, QStringLiteral("document.getElementById('msg10').style.borderColor"))
                  .toString(),
              QStringLiteral("rgb(0, 0, 0)"));
    Screenshot(&window, "logviewer-html-search.png");

    // A message appended while the viewer is open goes into the page as it stands.
    ChatMessage late = MakeMessage("40", "late news", "Kim");
    late.Time.Set(now);
    ASSERT_TRUE(writer.AppendToLog(logPath, {late}, error)) << error;
    window.Viewer().OnFollowTick();
    EXPECT_TRUE(RunUntil(
        [&] {
            return RunScript(web, QStringLiteral("document.getElementsByTagName('p').length"))
                       .toInt() == 41;
        },
        5000));
    EXPECT_EQ(RunScript(web, QStringLiteral("document.getElementById('msg40').innerText"))
                  .toString()
                  .contains(QStringLiteral("late news")),
              true);
    EXPECT_EQ(RunScript(web, QStringLiteral("fg_iPrevMsg")).toInt(), 10); // selection kept
}

// A log of `count` messages a minute apart up to now, and the viewer with its page on it.
struct WebViewerOnLog
{
    TestSettings settings;
    FakePrompt prompt;
    std::unique_ptr<CLogViewerDlg> window;
    QWebEngineView* web = nullptr;

    // False when the page did not show the newest message within `limitMs`.
    bool Open(int count, const std::function<std::string(int)>& text, int limitMs)
    {
        std::string logPath = settings.dir.File("Zib Tam.xml");
        settings.options.Set(Opt::LogPath, logPath);
        std::vector<ChatMessage> log;
        std::time_t now = CSystemClock::Instance().Now();
        for (int i = 0; i < count; ++i) {
            ChatMessage message = MakeMessage(std::to_string(i), text(i));
            message.Time.Set(now - (count - i) * 60);
            log.push_back(message);
        }
        std::string error;
        if (!CLogWriter([] { return true; }).AppendToLog(logPath, log, error))
            return false;
        auto* view = new CHtmlLogView(settings.options.GetLogTempPath(), nullptr);
        web = qobject_cast<QWebEngineView*>(view->Page().Widget());
        window = std::make_unique<CLogViewerDlg>(settings.options, prompt, CSystemClock::Instance(),
                                                 false, view, *view);
        window->resize(800, 600);
        window->show();
        const QString newest = QStringLiteral("!!document.getElementById('msg%1')").arg(count - 1);
        return web && RunUntil(
                          [&] {
                              // The whole log read, and its page, not one a newer load replaces.
                              return window->Viewer().IsLoaded() && !web->page()->isLoading() &&
                                     RunScript(web, newest).toBool();
                          },
                          limitMs);
    }
    // Ctrl with Home or End pressed in the page once it has loaded. Input the test makes up
    // reaches the page only now and then while it loads or lays out, so the key is raised in
    // the page itself.
    void Press(const char* key)
    {
        auto* view = static_cast<CHtmlLogView*>(window->HistoryWidget());
        RunUntil([&] { return !view->Page().IsLoading(); }, 10000);
        RunScript(web, QStringLiteral("document.dispatchEvent(new KeyboardEvent('keydown',"
                                      " {key: '%1', ctrlKey: true, bubbles: true}))")
                           .arg(QLatin1String(key)));
    }
    int Paragraphs()
    {
        return RunScript(web, QStringLiteral("document.getElementsByTagName('p').length")).toInt();
    }
    // Whether message `index` is on screen whole.
    bool OnScreen(int index)
    {
        return RunScript(web, QStringLiteral("var r = document.getElementById('msg%1');"
                                             "r = r && r.getBoundingClientRect();"
                                             "!!r && r.top >= 0 && r.bottom <= window.innerHeight")
                                  .arg(index))
            .toBool();
    }
};

TEST(LogViewerWeb, ALargeLogOpensAtItsEndAndFillsInOlderMessagesAsTheUserScrollsUp)
{
    WebViewerOnLog viewer;
    const int count = 20000;
    ASSERT_TRUE(viewer.Open(
        count,
        [](int i) {
            return i == 3 ? std::string("the oldest hit") : "message " + std::to_string(i);
        },
        60000));
    QWebEngineView* web = viewer.web;
    // The newest part of the log, at its end.
    EXPECT_LT(viewer.Paragraphs(), count);
    const QString atEnd =
        QStringLiteral("window.scrollY > 0 && "
                       "window.scrollY + window.innerHeight >= document.body.scrollHeight - 2");
    EXPECT_TRUE(RunUntil([&] { return RunScript(web, atEnd).toBool(); }, 10000))
        << RunScript(web, QStringLiteral("window.scrollY + ' of ' + document.body.scrollHeight"))
               .toString()
               .toStdString();

    // At the top of what the page holds, older messages come in above it; the view stays on
    // the message the user was reading.
    const int before = viewer.Paragraphs();
    const int top = count - before;
    RunScript(web, QStringLiteral("window.scrollTo(0, 0)"));
    ASSERT_TRUE(RunUntil([&] { return viewer.Paragraphs() > before; }, 10000));
    EXPECT_TRUE(RunUntil([&] { return viewer.OnScreen(top); }, 5000));

    // Reading older messages, a new one does not move the view.
    const int scrolled = RunScript(web, QStringLiteral("window.scrollY")).toInt();
    ChatMessage late = MakeMessage(std::to_string(count), "late news");
    late.Time.Set(CSystemClock::Instance().Now());
    std::string error;
    ASSERT_TRUE(CLogWriter([] {
                    return true;
                }).AppendToLog(viewer.settings.options.GetLogPath(), {late}, error));
    viewer.window->Viewer().OnFollowTick();
    ASSERT_TRUE(RunUntil(
        [&] {
            return RunScript(web, QStringLiteral("!!document.getElementById('msg%1')").arg(count))
                .toBool();
        },
        5000));
    EXPECT_EQ(RunScript(web, QStringLiteral("window.scrollY")).toInt(), scrolled);

    // A hit among the oldest messages scrolls there.
    viewer.window->SetFindAsker([first = true](FindCriteria& criteria) mutable {
        criteria = {"", "", "oldest hit"};
        return std::exchange(first, false);
    });
    viewer.window->Find();
    ASSERT_EQ(viewer.window->ResultsList()->count(), 1);
    viewer.window->ResultsList()->setCurrentRow(0);
    EXPECT_TRUE(RunUntil([&] { return RunScript(web, QStringLiteral("fg_iPrevMsg")).toInt() == 3; },
                         10000));
    EXPECT_TRUE(RunUntil([&] { return viewer.OnScreen(3); }, 5000));
    Screenshot(viewer.window.get(), "logviewer-html-oldest-hit.png");
    // The page holds what lies around the hit; scrolling down brings the newer ones.
    EXPECT_LT(viewer.Paragraphs(), count / 2);
    const int held = viewer.Paragraphs();
    RunScript(web, QStringLiteral("window.scrollTo(0, document.body.scrollHeight)"));
    EXPECT_TRUE(RunUntil([&] { return viewer.Paragraphs() > held; }, 10000));

    // Ctrl+End and Ctrl+Home reach the newest and the oldest message, however many lie
    // between them and the part the page holds.
    viewer.Press("End");
    EXPECT_TRUE(RunUntil([&] { return viewer.OnScreen(count); }, 10000));
    viewer.Press("Home");
    EXPECT_TRUE(RunUntil([&] { return viewer.OnScreen(0); }, 10000));
    EXPECT_LT(viewer.Paragraphs(), count / 2);
}

// "rgb(r, g, b)" as the page's computed style gives it.
QColor CssColor(const QString& text)
{
    QStringList parts = QString(text)
                            .remove(QStringLiteral("rgb("))
                            .remove(QLatin1Char(')'))
                            .split(QLatin1Char(','));
    return parts.size() == 3 ? QColor(parts[0].trimmed().toInt(), parts[1].trimmed().toInt(),
                                      parts[2].trimmed().toInt())
                             : QColor();
}

TEST(LogViewerWeb, ThePageIsReadableInADarkPalette)
{
    const QPalette light = QApplication::palette();
    QApplication::setPalette(DarkPalette());
    WebViewerOnLog viewer;
    // The program takes the system's window colour from the palette's base.
    const QColor base = DarkPalette().color(QPalette::Base);
    viewer.settings.system.Window =
        static_cast<uint32_t>(base.red() | base.green() << 8 | base.blue() << 16);
    ASSERT_TRUE(viewer.Open(
        12, [](int i) { return "The build is green again, " + std::to_string(i); }, 20000));
    auto style = [&](const char* selector, const char* property) {
        return CssColor(
            RunScript(viewer.web,
                      QStringLiteral("getComputedStyle(document.querySelector('%1')).%2")
                          .arg(QLatin1String(selector), QLatin1String(property)))
                .toString());
    };
    const QColor background = style("body", "backgroundColor");
    EXPECT_LT(background.lightness(), 128);
    EXPECT_GE(ContrastRatio(background, style(".message", "color")), 4.5);
    EXPECT_GE(ContrastRatio(background, style(".prefix", "color")), 4.5);
    Screenshot(viewer.window.get(), "logviewer-html-dark.png");
    viewer.window.reset();
    QApplication::setPalette(light);
}

TEST(LogViewerWeb, ClassicViewScreenshot)
{
    if (qEnvironmentVariable("ZIBTAM_SCREENSHOTS").isEmpty())
        GTEST_SKIP() << "only for screenshots";
    TestSettings settings;
    FakePrompt prompt;
    std::string logPath = settings.dir.File("Zib Tam.xml");
    settings.options.Set(Opt::LogPath, logPath);
    CLogWriter writer{[] { return true; }};
    std::vector<ChatMessage> log;
    std::time_t now = CSystemClock::Instance().Now();
    for (int i = 0; i < 30; ++i) {
        ChatMessage message = MakeMessage(std::to_string(i),
                                          i % 3 ? "The build is green again, see www.example.com"
                                                : "Who has the key to room 4 <the small one>?",
                                          i % 2 ? "Kim" : "Owen");
        message.Time.Set(now - (30 - i) * 600);
        log.push_back(message);
    }
    std::string error;
    ASSERT_TRUE(writer.AppendToLog(logPath, log, error)) << error;
    const QPalette light = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? DarkPalette() : light);
        auto* classic = new CClassicLogView(prompt, nullptr);
        CLogViewerDlg window(settings.options, prompt, CSystemClock::Instance(), false, classic,
                             *classic);
        window.resize(800, 600);
        window.show();
        ASSERT_TRUE(RunUntil([&] { return window.Viewer().IsLoaded(); }));
        window.SetFindAsker([first = true](FindCriteria& criteria) mutable {
            criteria = {"", "", "room 4"};
            return std::exchange(first, false);
        });
        window.Find();
        window.ResultsList()->setCurrentRow(3);
        Screenshot(&window,
                   dark ? "logviewer-classic-search-dark.png" : "logviewer-classic-search.png");
    }
    QApplication::setPalette(light);
}

int main(int argc, char** argv)
{
    PrepareLogViewerProcess();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
