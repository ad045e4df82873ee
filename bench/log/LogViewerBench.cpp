// The log viewer with its web engine page on logs of 1,000, 10,000 and 100,000 messages
// (run under X11, e.g. xvfb-run): time until the window is first painted, until the log
// is read and the page written, until the newest message is in the browser's page; the
// cost of one follow-up check and of showing one appended message; resident memory of the
// viewer and of the browser's page process. Prints one line per size.
#include "common/MessageElement.h"
#include "log/LogViewerDlg.h"
#include "log/LogWriter.h"
#include "log/WebPageView.h"
#include "platform/Clock.h"
#include "platform/SqliteRegistry.h"
#include "platform/SystemInfo.h"
#include "settings/Options.h"
#include "ui/WidgetPrompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWebEngineView>
#include <QWindow>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

namespace {

ChatMessage BenchMessage(int i, std::time_t start)
{
    static const char* const kNames[] = {"Owen", "R.T. Holm", "Kim", "Alessandra", "Bob"};
    ChatMessage message;
    message.Id = std::to_string(i);
    message.Sender = kNames[i % 5];
    message.Recipients = {kNames[(i + 1) % 5], kNames[(i + 3) % 5]};
    message.Time.Set(start + i * 37);
    message.Text = "Message " + std::to_string(i) +
                   ": the meeting moved to room 4 at three o'clock, bring the quarterly "
                   "figures and the draft for the customer letter.\nSee you there";
    return message;
}

bool RunUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Resident kB of a process, from /proc.
long ResidentKb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// The web engine's page processes are children of its zygote, itself our child.
long ChildrenResidentKb(pid_t parent)
{
    long total = 0;
    QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs)) {
        bool number = false;
        pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            total += ResidentKb(pid) + ChildrenResidentKb(pid);
    }
    return total;
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

// Whether the page holds message `index` now.
bool HasMessage(QWebEngineView* web, int index)
{
    bool result = false;
    bool done = false;
    web->page()->runJavaScript(QStringLiteral("!!document.getElementById('msg%1')").arg(index),
                               [&](const QVariant& value) {
                                   result = value.toBool();
                                   done = true;
                               });
    RunUntil([&] { return done; }, 10000);
    return result;
}

void Measure(int count)
{
    QTemporaryDir dir;
    CSystemInfo system;
    CSqliteRegistry registry(
        QString(dir.path() + QStringLiteral("/registry.sqlite3")).toStdString());
    COptions options(registry, system, false);
    std::string logPath = QString(dir.path() + QStringLiteral("/Zib Tam.xml")).toStdString();
    options.Set(Opt::LogPath, logPath);
    {
        std::string bytes(kLogHeader);
        std::time_t start = CSystemClock::Instance().Now() - count * 37;
        for (int i = 0; i < count; ++i)
            bytes += FormatMessageElement(BenchMessage(i, start));
        bytes += kLogTrailer;
        std::ofstream(logPath, std::ios::binary) << bytes;
    }
    CWidgetPrompt prompt;
    QElapsedTimer clock;
    clock.start();
    auto* view = new CHtmlLogView(options.GetLogTempPath(), nullptr);
    auto* web = qobject_cast<QWebEngineView*>(view->Page().Widget());
    if (!web) {
        std::printf("the web engine module did not load\n");
        return;
    }
    CLogViewerDlg window(options, prompt, CSystemClock::Instance(), false, view, *view);
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
    RunUntil([&] { return HasMessage(web, count - 1); }, 300000);
    qint64 shown = clock.elapsed();
    RunUntil([] { return false; }, 500);
    long viewerKb = ResidentKb(::getpid());
    long pageKb = ChildrenResidentKb(::getpid());

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
    RunUntil([&] { return HasMessage(web, count); }, 300000);
    qint64 appendShown = check.elapsed();

    std::printf("%7d messages: window painted %5lld ms, log read and page written %6lld ms, all "
                "shown %6lld ms;"
                " follow-up check %.3f ms; one appended: tick %lld ms, shown %lld ms;"
                " resident viewer %ld MB, page processes %ld MB\n",
                count, painted, read, shown, checkMs, appendTick, appendShown, viewerKb / 1024,
                pageKb / 1024);
    std::fflush(stdout);
    window.close();
}

} // namespace

int main(int argc, char** argv)
{
    PrepareLogViewerProcess();
    QApplication app(argc, argv);
    std::vector<int> sizes = {1000, 10000, 100000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i)
            sizes.push_back(std::atoi(argv[i]));
    }
    for (int count : sizes)
        Measure(count);
    return 0;
}
