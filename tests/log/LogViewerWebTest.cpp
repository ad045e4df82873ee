// The log viewer with the web engine under X11: the page, SelMsg and the search layout.
// With ZIBTAM_SCREENSHOTS set to a folder, the window is saved there as PNG files.
#include "LogTestSupport.h"
#include "TestSupport.h"
#include "log/LogViewerDlg.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScreen>
#include <QWebEngineView>
#include <gtest/gtest.h>

namespace {

bool RunUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
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
    Screenshot(&window, "logviewer-classic-search.png");
}

int main(int argc, char** argv)
{
    PrepareLogViewerProcess();
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
