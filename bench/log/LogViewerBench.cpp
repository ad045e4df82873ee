// The log viewer with its web engine page (or, given "classic", its classic view) on logs
// of 1,000, 10,000 and 100,000 messages
// (run under X11, e.g. xvfb-run): time until the window is first painted, until the log
// is read and the page written, until the newest message is in the browser's page; the
// cost of one follow-up check and of showing one appended message; resident memory of the
// viewer and of the browser's page process; the time to find the oldest message and have it
// on screen. Prints one line per size.
#include "BenchLog.h"
#include "Resident.h"
#include "log/LogViewerDlg.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "ui/WidgetPrompt.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

bool RunUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Notes the first paint of the watched window.
class CPaintWatch : public QObject
{
public:
    explicit CPaintWatch(std::function<void()> painted) : m_painted(std::move(painted)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest)
            m_painted();
        return false;
    }

private:
    std::function<void()> m_painted;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

double Max(const std::vector<double>& values)
{
    return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

// The page's answer to a question in script.
bool PageSays(QWebEngineView* web, const QString& script)
{
    bool result = false;
    bool done = false;
    web->page()->runJavaScript(script, [&](const QVariant& value) {
        result = value.toBool();
        done = true;
    });
    RunUntil([&] { return done; }, 10000);
    return result;
}

// Whether the page holds message `index` now.
bool HasMessage(QWebEngineView* web, int index)
{
    return PageSays(web, QStringLiteral("!!document.getElementById('msg%1')").arg(index));
}

void Measure(int count, bool classic)
{
    QTemporaryDir dir;
    CSystemInfo system;
    CSqliteRegistry registry(
        QString(dir.path() + QStringLiteral("/registry.sqlite3")).toStdString());
    COptions options(registry, system, false);
    std::string logPath = QString(dir.path() + QStringLiteral("/Zib Tam.xml")).toStdString();
    options.Set(Opt::LogPath, logPath);
    WriteBenchLog(logPath, count, CSystemClock::Instance().Now());
    CWidgetPrompt prompt;
    QElapsedTimer clock;
    clock.start();
    QWidget* view = nullptr;
    ILogHistoryView* history = nullptr;
    std::function<bool(int)> onScreen; // whether message `index` is on screen
    std::function<bool()> oldestOnScreen;
    std::function<bool()> holdsOldest;  // in the page, or on screen in the classic view
    std::function<void(int key)> press; // a key with Ctrl, as the user presses it in the view
    std::function<void()> roundTrip;    // a script that does nothing, until it has answered
    // Probed every 10 ms, during the load too: when the newest message is first on screen.
    auto newest = std::make_shared<qint64>(-1);
    const QString newestText = QStringLiteral("Message %1:").arg(count - 1);
    std::function<void()> probeNewest;
    if (classic) {
        auto* list = new CClassicLogView(prompt, nullptr);
        view = list;
        history = list;
        onScreen = [list](int index) { return list->RowsOnScreen().second >= index; };
        oldestOnScreen = [list] { return list->RowsOnScreen().first == 0; };
        holdsOldest = oldestOnScreen;
        press = [list](int key) {
            QKeyEvent event(QEvent::KeyPress, key, Qt::ControlModifier);
            QApplication::sendEvent(list, &event);
        };
        probeNewest = [list, newest, newestText, &clock] {
            const int last = list->RowCount() - 1;
            if (last >= 0 && list->RowsOnScreen().second == last &&
                list->RowText(last).contains(newestText))
                *newest = clock.elapsed();
        };
    } else {
        auto* html = new CHtmlLogView(options.GetLogTempPath(), nullptr);
        auto* web = qobject_cast<QWebEngineView*>(html->Page().Widget());
        if (!web) {
            std::printf("the web engine module did not load\n");
            delete html;
            return;
        }
        view = html;
        history = html;
        onScreen = [web](int index) { return HasMessage(web, index); };
        oldestOnScreen = [web] {
            return PageSays(web, QStringLiteral("var r = document.getElementById('msg0');"
                                                "r = r && r.getBoundingClientRect();"
                                                "!!r && r.top >= 0 && r.bottom <= innerHeight"));
        };
        holdsOldest = [web] { return HasMessage(web, 0); };
        roundTrip = [web] { PageSays(web, QStringLiteral("true")); };
        press = [web, html](int key) {
            // Raised in the page itself, once it has loaded: input made up here reaches the
            // page only now and then while it loads or lays out.
            RunUntil([html] { return !html->Page().IsLoading(); }, 10000);
            web->page()->runJavaScript(
                QStringLiteral("document.dispatchEvent(new KeyboardEvent('keydown',"
                               " {key: '%1', ctrlKey: true, bubbles: true}))")
                    .arg(key == Qt::Key_Home ? QStringLiteral("Home") : QStringLiteral("End")));
        };
        probeNewest = [web, newest, newestText, &clock] {
            web->page()->runJavaScript(
                QStringLiteral("var p = document.getElementsByTagName('p');"
                               "p.length > 0 && p[p.length - 1].innerText.indexOf('%1') >= 0")
                    .arg(newestText),
                [newest, elapsed = &clock](const QVariant& value) {
                    if (value.toBool() && *newest < 0)
                        *newest = elapsed->elapsed();
                });
        };
    }
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (*newest < 0)
            probeNewest();
    });
    probe.start(10);
    CLogViewerDlg window(options, prompt, CSystemClock::Instance(), false, view, *history);
    window.resize(800, 600);
    qint64 painted = -1;
    CPaintWatch watch([&] {
        if (painted < 0)
            painted = clock.elapsed();
    });
    window.installEventFilter(&watch);
    window.show();
    RunUntil([&] { return painted >= 0; }, 120000);
    RunUntil([&] { return window.Viewer().IsLoaded(); }, 300000);
    qint64 read = clock.elapsed();
    // Shown: the newest message is in the page.
    RunUntil([&] { return onScreen(count - 1); }, 300000);
    qint64 shown = clock.elapsed();
    RunUntil([] { return false; }, 500);
    probe.stop();
    long viewerKb = ResidentKb(::getpid());
    long pageKb = ChildrenPssKb(::getpid());

    // One follow-up check with nothing new, then with one appended message until it shows.
    QElapsedTimer check;
    check.start();
    const int checks = 50;
    for (int i = 0; i < checks; ++i)
        window.Viewer().OnFollowTick();
    double checkMs = static_cast<double>(check.nsecsElapsed()) / 1e6 / checks;

    CLogWriter writer([] { return true; });
    std::string error;
    writer.AppendToLog(logPath, {BenchMessage(count, CSystemClock::Instance().Now())}, error);
    check.restart();
    window.Viewer().OnFollowTick();
    qint64 appendTick = check.elapsed();
    RunUntil([&] { return onScreen(count); }, 300000);
    qint64 appendShown = check.elapsed();

    // More appends, one at a time, each until it shows; and, for the web page, the round trip
    // of a script that does nothing (what showing one cannot go below).
    constexpr int kAppends = 20;
    std::vector<double> appends, trips;
    for (int i = 1; i <= kAppends; ++i) {
        writer.AppendToLog(logPath, {BenchMessage(count + i, CSystemClock::Instance().Now())},
                           error);
        check.restart();
        window.Viewer().OnFollowTick();
        RunUntil([&] { return onScreen(count + i); }, 300000);
        appends.push_back(static_cast<double>(check.nsecsElapsed()) / 1e6);
        if (roundTrip) {
            check.restart();
            roundTrip();
            trips.push_back(static_cast<double>(check.nsecsElapsed()) / 1e6);
        }
    }

    // The oldest message found and chosen in the results, until it is on screen.
    check.restart();
    window.Viewer().Find({"", "", "\"Message 0:\""});
    window.Viewer().SelectResult(0);
    RunUntil([&] { return oldestOnScreen(); }, 300000);
    qint64 oldest = check.elapsed();

    // Back at the newest (Ctrl+End), then Ctrl+Home until the oldest is on screen.
    press(Qt::Key_End);
    const bool end = RunUntil([&] { return onScreen(count) && !holdsOldest(); }, 30000);
    RunUntil([] { return false; }, 300);
    check.restart();
    press(Qt::Key_Home);
    const bool top = end && RunUntil([&] { return oldestOnScreen(); }, 30000);
    const qint64 home = top ? check.elapsed() : -1;

    std::printf("%s view, %7d messages: window painted %5lld ms, newest on screen %5lld ms, "
                "log read and shown %6lld ms, all of it on screen %6lld ms;"
                " follow-up check %.3f ms; one appended: tick %lld ms, shown %lld ms;"
                " oldest found and on screen %lld ms; Ctrl+Home until the oldest is on screen"
                " %lld ms;"
                " resident viewer %ld MB, page processes %ld MB (PSS)\n"
                "  %d more appended one by one: shown median %.1f ms, max %.1f ms;"
                " a script's round trip in the page median %.1f ms, max %.1f ms\n",
                classic ? "classic" : "web", count, painted, *newest, read, shown, checkMs,
                appendTick, appendShown, oldest, home, viewerKb / 1024, pageKb / 1024, kAppends,
                Median(appends), Max(appends), Median(trips), Max(trips));
    std::fflush(stdout);
    window.close();
}

} // namespace

int main(int argc, char** argv)
{
    // Arguments: the log sizes, and "classic" for the classic view instead of the web page.
    std::vector<int> sizes;
    bool classic = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "classic")
            classic = true;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    // As the program: the web engine only for the web page.
    if (!classic)
        PrepareLogViewerProcess();
    QApplication app(argc, argv);
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    for (int count : sizes)
        Measure(count, classic);
    return 0;
}
