// The program's log viewer as a user meets it (run under X11, e.g. xvfb-run): `zibtam /log`
// started on a log of N messages, in the classic view and in the web page view, against two
// anchors run the same way in the same run: a plain QTextEdit and a plain web page given the
// same messages. For each: when the window maps (from the start of the process), when text
// first shows in the lower part of its window (where the newest messages are) after the map,
// and, once the process has settled, its resident memory (also as its proportional share of
// pages it shares, such as the web engine's library with its page processes), its peak, and
// that of the processes it started (the web engine's), summed as proportional set sizes.
//
//   bench_log_viewer_program PATH/TO/zibtam [--count N] [--runs R] [--cases classic,web,...]
//
// The anchors are this program again with "--anchor textedit|page LOG".
#include "BenchLog.h"
#include "Resident.h"
#include "log/LogTracker.h"
#include "log/LogViewerDlg.h"
#include "log/LogViewerModel.h"
#include "platform/Clock.h"
#include "view/PrefixFormat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QWebEngineView>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace {

const char kAnchorTitle[] = "Anchor of the log viewer";

// Reads the log as the viewer does.
std::vector<ChatMessage> ReadLog(const std::string& path)
{
    std::vector<ChatMessage> messages;
    std::string error;
    CLogTracker().Load(path, messages, nullptr, error);
    return messages;
}

int RunAnchor(int argc, char** argv, const std::string& kind, const std::string& logPath)
{
    if (kind == "page")
        PrepareLogViewerProcess();
    QApplication app(argc, argv);
    const std::vector<ChatMessage> messages = ReadLog(logPath);
    if (kind == "textedit") {
        // Prefix and text of each message as a plain paragraph, caret at the end.
        CPrefixFormat format(HistoryDisplaySettings{}.PrefixFormat);
        QString text;
        int index = 0;
        for (const ChatMessage& message : messages) {
            if (index > 0)
                text += QLatin1Char('\n');
            text += QString::fromStdString(
                format.Format(message.Time, message.Sender, FormatRecipients(message), index++, 0) +
                message.Text);
        }
        QTextEdit edit;
        edit.setWindowTitle(QString::fromLatin1(kAnchorTitle));
        edit.setReadOnly(true);
        edit.setPlainText(text);
        edit.moveCursor(QTextCursor::End);
        edit.resize(800, 600);
        edit.show();
        return app.exec();
    }
    // The whole page of the messages, as one document, scrolled to its end once loaded.
    QTemporaryDir dir;
    const QString page = dir.path() + QStringLiteral("/page.html");
    std::string error;
    WriteLogPage(page.toStdString(), BuildLogPage(messages, HistoryDisplaySettings{}), error);
    QWebEngineView view;
    view.setWindowTitle(QString::fromLatin1(kAnchorTitle));
    view.resize(800, 600);
    view.show();
    view.load(QUrl::fromLocalFile(page));
    return app.exec();
}

// Watches the X server for the window of a title and for text in it.
class CXWatch
{
public:
    CXWatch() : m_display(XOpenDisplay(nullptr))
    {
        if (m_display) {
            XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
            XSync(m_display, False);
        }
    }
    ~CXWatch()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool IsOpen() const { return m_display != nullptr; }

    // Waits for a top-level window with `title` in its name to map; 0 when none did.
    Window WaitForMap(const char* title, int limitMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < limitMs) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == MapNotify && HasTitle(event.xmap.window, title))
                    return event.xmap.window;
            }
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&fd, 1, 2);
        }
        return 0;
    }

    // Whether the lower part of the window (below the label above the log, above the status
    // bar) holds text: a few dark-on-light (or light-on-dark) pixels on one background. A
    // window still black or half painted does not count.
    bool ShowsText(Window window)
    {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_display, window, &attributes))
            return false;
        const int x = attributes.width / 10;
        const int y = attributes.height / 2;
        const int width = attributes.width * 8 / 10;
        const int height = attributes.height * 4 / 10;
        XImage* image = XGetImage(m_display, window, x, y, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (!image)
            return false;
        std::unordered_map<unsigned long, long> counts;
        for (int row = 0; row < height; row += 2)
            for (int column = 0; column < width; column += 2)
                ++counts[XGetPixel(image, column, row)];
        XDestroyImage(image);
        const auto background = std::max_element(
            counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; });
        long total = 0;
        long far = 0;
        auto channel = [](unsigned long pixel, int shift) {
            return static_cast<int>((pixel >> shift) & 0xFF);
        };
        for (auto [pixel, count] : counts) {
            total += count;
            int distance = 0;
            for (int shift : {0, 8, 16})
                distance = std::max(
                    distance, std::abs(channel(pixel, shift) - channel(background->first, shift)));
            if (distance > 96)
                far += count;
        }
        return total > 0 && far * 200 > total && far * 4 < total;
    }

private:
    bool HasTitle(Window window, const char* title)
    {
        char* name = nullptr;
        bool has = false;
        if (XFetchName(m_display, window, &name) && name) {
            has = std::strstr(name, title) != nullptr;
            XFree(name);
        }
        if (!has) {
            XTextProperty property;
            if (XGetWMName(m_display, window, &property) && property.value) {
                has = std::strstr(reinterpret_cast<char*>(property.value), title) != nullptr;
                XFree(property.value);
            }
        }
        return has;
    }

    Display* m_display;
};

struct Figures
{
    double Mapped = -1; // ms from the process's start
    double Text = -1;   // ms from the map
    double TextFromStart = -1;
    double Resident = -1;     // MB
    double Proportional = -1; // MB: its share of pages shared with other processes
    double Peak = -1;
    double Children = -1; // MB, proportional
};

Figures RunOnce(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment, const char* title)
{
    Figures figures;
    CXWatch watch;
    if (!watch.IsOpen())
        return figures;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted())
        return figures;
    const Window window = watch.WaitForMap(title, 120000);
    if (window) {
        figures.Mapped = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        QElapsedTimer sinceMap;
        sinceMap.start();
        while (sinceMap.elapsed() < 180000 && !watch.ShowsText(window))
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        if (sinceMap.elapsed() < 180000) {
            figures.Text = static_cast<double>(sinceMap.nsecsElapsed()) / 1e6;
            figures.TextFromStart = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        }
        // Settled: no change of 1 MB in the last two seconds, three seconds at least.
        const pid_t pid = static_cast<pid_t>(process.processId());
        long last = ResidentKb(pid);
        QElapsedTimer stable;
        stable.start();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 180000 && (stable.elapsed() < 2000 || waited.elapsed() < 3000)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const long now = ResidentKb(pid) + ChildrenResidentKb(pid);
            if (std::abs(now - last) > 1024) {
                last = now;
                stable.restart();
            }
        }
        figures.Resident = static_cast<double>(ResidentKb(pid)) / 1024;
        figures.Proportional = static_cast<double>(ProcessKb(pid, "Pss", "smaps_rollup")) / 1024;
        figures.Peak = static_cast<double>(ProcessKb(pid, "VmHWM")) / 1024;
        figures.Children = static_cast<double>(ChildrenPssKb(pid)) / 1024;
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return figures;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "--anchor")
        return RunAnchor(argc, argv, argv[2], argv[3]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH/TO/zibtam [--count N] [--runs R] [--cases LIST]\n",
                     argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString zibtam = QString::fromLocal8Bit(argv[1]);
    int count = 100000;
    int runs = 3;
    QStringList cases = {QStringLiteral("classic"), QStringLiteral("web"),
                         QStringLiteral("textedit"), QStringLiteral("page")};
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--count")
            count = std::atoi(argv[i + 1]);
        else if (option == "--runs")
            runs = std::atoi(argv[i + 1]);
        else if (option == "--cases")
            cases = QString::fromLocal8Bit(argv[i + 1]).split(QLatin1Char(','));
    }
    QTemporaryDir dir;
    const QString logPath = dir.path() + QStringLiteral("/log.xml");
    WriteBenchLog(logPath.toStdString(), count, CSystemClock::Instance().Now());
    double load[3] = {};
    std::printf("%d messages, %d runs each, medians; load average at start %.2f\n", count, runs,
                (::getloadavg(load, 3), load[0]));
    for (const QString& name : cases) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           dir.path() + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
        const bool viewer = name == QStringLiteral("classic") || name == QStringLiteral("web");
        QString program = zibtam;
        QStringList arguments{QStringLiteral("/log")};
        const char* title = "Zib Tam Log Viewer";
        if (viewer) {
            for (const QStringList& setting :
                 {QStringList{QStringLiteral("LogPath"), logPath},
                  QStringList{QStringLiteral("ClassicLogViewer"), name == QStringLiteral("classic")
                                                                      ? QStringLiteral("1")
                                                                      : QStringLiteral("0")}}) {
                QProcess config;
                config.setProcessEnvironment(environment);
                config.start(zibtam,
                             QStringList{QStringLiteral("--config"), QStringLiteral("set")} +
                                 setting);
                config.waitForFinished();
            }
        } else {
            program = QCoreApplication::applicationFilePath();
            arguments = {QStringLiteral("--anchor"), name, logPath};
            title = kAnchorTitle;
        }
        std::vector<double> mapped, text, fromStart, resident, proportional, peak, children;
        for (int run = 0; run < runs; ++run) {
            const Figures figures = RunOnce(program, arguments, environment, title);
            mapped.push_back(figures.Mapped);
            text.push_back(figures.Text);
            fromStart.push_back(figures.TextFromStart);
            resident.push_back(figures.Resident);
            proportional.push_back(figures.Proportional);
            peak.push_back(figures.Peak);
            children.push_back(figures.Children);
        }
        std::printf(
            "%-8s mapped %6.0f ms after start, text %6.0f ms after the map (%6.0f after"
            " start); resident %4.0f MB (PSS %4.0f, peak %4.0f), processes it started %4.0f MB"
            " (PSS)\n",
            qPrintable(name), Median(mapped), Median(text), Median(fromStart), Median(resident),
            Median(proportional), Median(peak), Median(children));
        std::fflush(stdout);
    }
    return 0;
}
