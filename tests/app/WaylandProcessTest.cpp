// The real program on a Wayland desktop without X11 (headless sway, started by
// tests/support/wayland-desktop.sh): it starts natively, its window maps under the
// desktop's name for it, and networking is up at once even with AutoType set.
#include "ProcessSupport.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

using namespace process_support;

std::string Run(const std::string& command)
{
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, got);
        ::pclose(pipe);
    }
    return output;
}

// The compositor's window of process `pid`, or an empty object.
QJsonObject WindowOf(long pid)
{
    std::function<QJsonObject(const QJsonObject&)> find = [&](const QJsonObject& node) {
        if (node.value(QStringLiteral("pid")).toInteger() == pid)
            return node;
        for (const char* list : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(QLatin1String(list)).toArray())
                if (QJsonObject found = find(child.toObject()); !found.isEmpty())
                    return found;
        return QJsonObject();
    };
    QByteArray tree = QByteArray::fromStdString(Run("swaymsg -r -t get_tree 2>/dev/null"));
    return find(QJsonDocument::fromJson(tree).object());
}

TEST(WaylandProcessTest, StartsNativelyMapsItsWindowAndListensAtOnce)
{
    ASSERT_NE(std::getenv("WAYLAND_DISPLAY"), nullptr) << "runs under wayland-desktop.sh";
    ASSERT_EQ(std::getenv("DISPLAY"), nullptr) << "no X11 to fall back to";
    // Each user has a runtime folder of his own; the compositor's socket by its full path.
    std::string socket =
        std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + std::getenv("WAYLAND_DISPLAY");
    ::setenv("WAYLAND_DISPLAY", socket.c_str(), 1);

    // A network of its own keeps the fixed peer port away from other tests.
    Lan lan(1);
    if (!lan.Error().empty())
        GTEST_SKIP() << lan.Error();
    TempDir dir;
    User owen{"Owen", dir.File("owen"), "OWENPC", lan.Namespace(0)};
    for (auto setting : {std::vector<std::string>{"Username", "Owen"},
                         {"NetworkingType", "1"},
                         {"AutoType", "Owen m/d/yy"}}) {
        Process set(owen, {"--config", "set", setting[0], setting[1]});
        ASSERT_EQ(set.Wait(10s), 0) << set.Errors();
    }

    Process chat(owen, {});
    EXPECT_TRUE(PeerPortBoundWithin(chat.Pid(), 2s)) << chat.Errors();

    QJsonObject window;
    for (auto until = Clock::now() + 10s; window.isEmpty() && Clock::now() < until;) {
        std::this_thread::sleep_for(50ms);
        window = WindowOf(chat.Pid());
    }
    ASSERT_FALSE(window.isEmpty()) << "no window mapped\n" << chat.Errors();
    EXPECT_EQ(window.value(QStringLiteral("app_id")).toString().toStdString(),
              "com.fernquillsoft.zibtam")
        << "the desktop entry's name, so docks and portals know the window";
    EXPECT_EQ(chat.Wait(0ms), -1) << "it keeps running\n" << chat.Errors();

    // A second start shows the first copy's window and ends.
    Process second(owen, {});
    EXPECT_EQ(second.Wait(10s), 0) << second.Errors();
    EXPECT_EQ(chat.Wait(300ms), -1) << chat.Errors();
    EXPECT_TRUE(WindowOf(chat.Pid()).value(QStringLiteral("visible")).toBool());
}

} // namespace
