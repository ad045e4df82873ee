// The tray icon, the global hot keys and the key watcher on a real X11 desktop (Xvfb with
// openbox and a tint2 panel, see tests/support/x11-desktop.sh); keys come from xdotool.
#include "EventWait.h"
#include "HelpMenuItems.h"
#include "app/desktop/HotKeys.h"
#include "app/desktop/TrayIcon.h"
#include "app/desktop/WidgetNotifierHost.h"
#include "app/desktop/X11HotKeys.h"
#include "platform/Clock.h"
#include "platform/Random.h"
#include "platform/X11KeyMap.h"
#include "platform/X11KeyWatcher.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

// Lets whatever is on its way arrive.
void Settle(int ms = 300)
{
    WaitFor([] { return false; }, ms);
}

void XdoTool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0)
        << arguments.join(u' ').toStdString();
}

class AlwaysAnimate : public IRandom
{
public:
    int Next() override { return 0; }
};

class TrayX11Test : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CX11HotKeys::IsAvailable()) << "these tests need an X11 display";
    }
};

TEST_F(TrayX11Test, HotKeysArriveWhateverTheLocksAndStopWhenLetGo)
{
    CX11HotKeys hotKeys;
    const auto keys = ChatHotKeys(InstanceIdentity::For(false));
    for (const HotKey& key : keys)
        ASSERT_EQ(hotKeys.Register(key), HotKeyResult::Registered) << HotKeyText(key);
    std::vector<uint32_t> pressed;
    QObject::connect(&hotKeys, &CX11HotKeys::Pressed, [&](uint32_t id) { pressed.push_back(id); });

    XdoTool({QStringLiteral("key"), QStringLiteral("super+g")});
    ASSERT_TRUE(WaitFor([&] { return pressed.size() == 1; }));
    EXPECT_EQ(pressed[0], keys[0].Id);

    XdoTool({QStringLiteral("key"), QStringLiteral("shift+super+g")});
    ASSERT_TRUE(WaitFor([&] { return pressed.size() == 2; }));
    EXPECT_EQ(pressed[1], keys[1].Id);

    // NumLock and CapsLock on do not hide the key.
    XdoTool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")});
    XdoTool({QStringLiteral("key"), QStringLiteral("super+g")});
    XdoTool({QStringLiteral("key"), QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")});
    ASSERT_TRUE(WaitFor([&] { return pressed.size() == 3; }));
    EXPECT_EQ(pressed[2], keys[0].Id);

    // Other keys and other modifiers are not ours.
    XdoTool({QStringLiteral("key"), QStringLiteral("g"), QStringLiteral("ctrl+super+g")});
    hotKeys.Unregister(keys[0].Id);
    XdoTool({QStringLiteral("key"), QStringLiteral("super+g")});
    Settle();
    EXPECT_EQ(pressed.size(), 3u);
}

TEST_F(TrayX11Test, AKeyAnotherProgramHoldsIsReportedOnce)
{
    // Another program, on a connection of its own, holds Super+Q.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    CX11KeyMap keyboard(other);
    uint8_t q = keyboard.KeyCode('q');
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_generic_error_t* error =
        xcb_request_check(other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_4, q,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(error, nullptr);

    CX11HotKeys hotKeys;
    const auto keys = ChatHotKeys(InstanceIdentity::For(true));
    std::vector<HotKeyOutcome> outcomes;
    for (const HotKey& key : keys)
        outcomes.push_back({key, hotKeys.Register(key)});
    EXPECT_EQ(outcomes[0].Result, HotKeyResult::Taken);
    EXPECT_EQ(outcomes[1].Result, HotKeyResult::Registered);
    EXPECT_EQ(HotKeyNotice(outcomes),
              "Zib Tam could not register the hot key Super+Q: another program holds it.");

    // Our failed attempt left none of its four grabs behind: once the other program lets
    // go, the key is ours.
    xcb_disconnect(other);
    Settle(100);
    EXPECT_EQ(hotKeys.Register(keys[0]), HotKeyResult::Registered);
}

TEST_F(TrayX11Test, TheTrayIconShowsAndAClickAsksForTheChatWindow)
{
    ASSERT_TRUE(WaitFor(&QSystemTrayIcon::isSystemTrayAvailable, 10000))
        << "no notification area on the panel";
    CManualClock clock;
    CRandom random;
    CTrayIcon tray(InstanceIdentity::For(false), clock, random);
    std::vector<int> commands;
    QObject::connect(&tray, &CTrayIcon::CommandChosen, [&](int c) { commands.push_back(c); });
    QSystemTrayIcon* icon = tray.SystemTrayIcon();
    ASSERT_TRUE(WaitFor([&] { return icon->geometry().width() > 0; }, 10000));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Zib Tam Freeware"));
    EXPECT_EQ(tray.ShownIcon(), 202);
    tray.SetStatus(true);
    EXPECT_EQ(tray.ShownIcon(), 106);

    // The panel lays its icons out again after taking one in: wait until the icon stays put.
    QRect before;
    ASSERT_TRUE(WaitFor([&] {
        QRect now = icon->geometry();
        Settle(300);
        return std::exchange(before, now) == now;
    }));
    QPoint centre = icon->geometry().center();
    // ZT_SCREENSHOT_DIR=folder keeps a picture of the panel with the icon, to look at.
    if (QString folder = qEnvironmentVariable("ZT_SCREENSHOT_DIR"); !folder.isEmpty()) {
        QRect panel = icon->geometry().adjusted(-300, -8, 60, 8);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, panel.x(), panel.y(), panel.width(), panel.height())
            .save(folder + QStringLiteral("/tray-panel.png"));
    }
    XdoTool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
             QStringLiteral("click"), QStringLiteral("1")});
    ASSERT_TRUE(WaitFor([&] { return !commands.empty(); }));
    EXPECT_EQ(commands[0], CTrayIcon::kChat);

    // The right button opens the menu; its Exit is a command like the others.
    XdoTool({QStringLiteral("click"), QStringLiteral("3")});
    ASSERT_TRUE(WaitFor([&] { return tray.Menu()->isVisible(); }));
    QStringList items;
    for (QAction* action : tray.Menu()->actions())
        items << action->text();
    EXPECT_EQ(items, (QStringList{QStringLiteral("&Chat!\tSuper+G"), QString(),
                                  QStringLiteral("&Options..."), QStringLiteral("&Help"), QString(),
                                  QStringLiteral("E&xit")}));
    QStringList helpItems;
    for (QAction* action : tray.Menu()->actions()[3]->menu()->actions())
        helpItems << action->text();
    EXPECT_EQ(helpItems, HelpItems());
    tray.Menu()->actions().last()->trigger();
    tray.Menu()->hide();
    EXPECT_EQ(commands.back(), CTrayIcon::kExit);

    // Blinking puts the attention icon up and takes it down again.
    tray.SetAttention(true);
    EXPECT_EQ(tray.ShownIcon(), -1);
    tray.SetAttention(false);
    EXPECT_EQ(tray.ShownIcon(), 106);
}

TEST_F(TrayX11Test, TypingTheProductNameElsewhereAnimatesTheIcon)
{
    AlwaysAnimate random;
    CTrayIcon tray(InstanceIdentity::For(false), CSystemClock::Instance(), random);
    tray.SetStatus(true);
    CX11KeyWatcher watcher;
    ASSERT_TRUE(watcher.Start());
    std::string typed;
    QObject::connect(&watcher, &CX11KeyWatcher::KeyPressed,
                     [&](int key) { typed += key == CX11KeyWatcher::kOtherKey ? '?' : char(key); });
    QObject::connect(&watcher, &CX11KeyWatcher::KeyPressed, &tray, &CTrayIcon::OnKeyPressed);
    std::vector<int> shown;

    XdoTool({QStringLiteral("type"), QStringLiteral("zib tax")});
    ASSERT_TRUE(WaitFor([&] { return typed.size() >= 7; }));
    EXPECT_EQ(typed, "ZIB TAX");
    EXPECT_FALSE(tray.IsAnimating());

    XdoTool({QStringLiteral("key"), QStringLiteral("Return")});
    XdoTool({QStringLiteral("type"), QStringLiteral("Zibtam")});
    ASSERT_TRUE(WaitFor([&] { return tray.IsAnimating(); }));
    EXPECT_EQ(typed, "ZIB TAX?ZIBTAM"); // Shift for the capital is not fed
    while (tray.IsAnimating()) {
        if (tray.ShownIcon() != 106 && (shown.empty() || shown.back() != tray.ShownIcon()))
            shown.push_back(tray.ShownIcon());
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    shown.push_back(tray.ShownIcon());
    EXPECT_EQ(shown, (std::vector<int>{109, 200, 201, 205, 202, 206, 204, 203, 109, 106}));

    watcher.Stop();
    XdoTool({QStringLiteral("type"), QStringLiteral("q")});
    Settle(200);
    EXPECT_EQ(typed.back(), 'M');
}

} // namespace

namespace {

// Openbox minimises; a window manager whose desktop hints leave minimising out (as tiling
// ones do) does not, and is told apart by those hints.
TEST(DesktopX11Test, AWindowManagerWithoutMinimisingIsToldApart)
{
    xcb_connection_t* connection = QtX11Connection();
    ASSERT_NE(connection, nullptr);
    auto atom = [&](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
            nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return found;
    };
    const xcb_atom_t supportedAtom = atom("_NET_SUPPORTED");
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, QtX11Root(), supportedAtom, XCB_ATOM_ATOM, 0, 4096),
        nullptr);
    ASSERT_NE(reply, nullptr);
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
    const std::vector<uint32_t> supported(data, data + xcb_get_property_value_length(reply) / 4);
    free(reply);
    auto write = [&](const std::vector<uint32_t>& atoms) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, QtX11Root(), supportedAtom,
                            XCB_ATOM_ATOM, 32, static_cast<uint32_t>(atoms.size()), atoms.data());
        xcb_flush(connection);
    };

    EXPECT_TRUE(DesktopCanMinimize());
    std::vector<uint32_t> tiling = supported;
    std::erase(tiling, atom("_NET_WM_ACTION_MINIMIZE"));
    ASSERT_LT(tiling.size(), supported.size()) << "openbox names minimising among its actions";
    write(tiling);
    EXPECT_FALSE(DesktopCanMinimize());
    write(supported);
    EXPECT_TRUE(DesktopCanMinimize());
}

} // namespace
