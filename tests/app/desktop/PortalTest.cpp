// The chat window in a Wayland session, against a desktop portal on a private session bus
// (tests/support/test_portal.py): its hot keys bound through GlobalShortcuts, a press
// bringing the window up, AutoType typing through RemoteDesktop, and what the user sees
// when the desktop says no or has no such portal.
#include "WindowRig.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/PortalAutoType.h"
#include "platform/Identity.h"
#include "view/ChatHistory.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr std::time_t kNow = 1'700'000'000;
constexpr uint32_t kControlUp[][2] = {{0xffe3, 0}, {0xffe9, 0}, {0xffe1, 0}};

class PortalTest : public testing::Test, protected OwenWindowRig
{
protected:
    QProcess portal;
    std::unique_ptr<CChatDlg> window;
    const InstanceIdentity& identity = InstanceIdentity::For(false);

    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "runs on a session bus of its own (dbus-run-session)";
        qputenv("XDG_SESSION_TYPE", "wayland");
        qunsetenv("XDG_ACTIVATION_TOKEN");
        clock.SetNow(kNow);
    }
    void TearDown() override
    {
        window.reset();
        portal.kill();
        portal.waitForFinished();
        qunsetenv("XDG_SESSION_TYPE");
    }

    void StartPortal(const QStringList& flags)
    {
        portal.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{QString::fromLocal8Bit(qgetenv("ZT_TEST_PORTAL"))} + flags);
        ASSERT_TRUE(WaitFor([] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.portal.Desktop"));
        })) << portal.readAllStandardError().toStdString();
    }
    void OpenWindow()
    {
        ChatDlgContext context{options, prompt, clock, random, factory, false};
        window = std::make_unique<CChatDlg>(context);
        window->Initialise();
    }
    static bool WaitFor(const std::function<bool()>& done, int ms = 5000)
    {
        for (int waited = 0; waited < ms; waited += 10) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (done())
                return true;
            QThread::msleep(10);
        }
        return done();
    }
    QDBusInterface Control()
    {
        return QDBusInterface(QStringLiteral("org.freedesktop.portal.Desktop"),
                              QStringLiteral("/org/freedesktop/portal/desktop"),
                              QStringLiteral("org.zibtam.test.Portal"));
    }
    QStringList Calls() { return QDBusReply<QStringList>(Control().call(QStringLiteral("Calls"))); }
    int Count(const QString& prefix) { return static_cast<int>(Calls().filter(prefix).size()); }
    void Press(uint32_t atom, const QString& token = {})
    {
        Control().call(QStringLiteral("Activate"), QStringLiteral("zibtam-%1").arg(atom), token);
    }
    std::vector<std::pair<uint32_t, uint32_t>> Keysyms()
    {
        QDBusMessage reply = Control().call(QStringLiteral("Keysyms"));
        std::vector<std::pair<uint32_t, uint32_t>> keys;
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            int keysym = 0;
            uint state = 0;
            list.beginStructure();
            list >> keysym >> state;
            list.endStructure();
            keys.emplace_back(static_cast<uint32_t>(keysym), state);
        }
        list.endArray();
        return keys;
    }
    std::string History()
    {
        std::string text;
        for (const ChatMessage& message : window->History()->Messages())
            text += message.Text + "\n";
        return text;
    }
};

TEST_F(PortalTest, KeysAreBoundAndAPressBringsTheWindowUpWithTheFocusToken)
{
    options.Set(Opt::AutoType, "x");
    StartPortal({});
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return Count(QStringLiteral("BindShortcuts")) == 1; }));
    EXPECT_EQ(Count(QStringLiteral("GlobalShortcuts.CreateSession")), 1);
    // The usual keys, as preferred triggers; the desktop may ask the user for others.
    QString bind = Calls().filter(QStringLiteral("BindShortcuts")).value(0);
    for (auto [atom, trigger] : {std::pair{identity.ChatAtom, "LOGO+g"},
                                 {identity.LogViewerAtom, "SHIFT+LOGO+g"},
                                 {identity.AutoTypeAtom, "CTRL+ALT+SHIFT+n"}})
        EXPECT_TRUE(
            bind.contains(QStringLiteral("zibtam-%1=%2").arg(atom).arg(QLatin1String(trigger))))
            << bind.toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(History(), "") << "every key was had: nothing to say";

    window->hide();
    Press(identity.ChatAtom, QStringLiteral("launch-token-1"));
    EXPECT_TRUE(WaitFor([&] { return window->isVisible() && !window->isMinimized(); }));
    // The window's activation takes the desktop's token with it (the Wayland platform
    // reads it from here).
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "launch-token-1");
}

TEST_F(PortalTest, AutoTypeSendsTheKeysymsOnceAllowedAndKeepsTheGrant)
{
    options.Set(Opt::AutoType, "Ow\xe9"); // "é" too: the desktop finds the key for it
    StartPortal({});
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return Count(QStringLiteral("BindShortcuts")) == 1; }));
    Press(identity.AutoTypeAtom);
    ASSERT_TRUE(WaitFor([&] { return Keysyms().size() >= 17; }));
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    auto character = [&](uint32_t keysym, bool shift) {
        for (auto [key, state] : kControlUp)
            expected.emplace_back(key, state);
        if (shift)
            expected.emplace_back(0xffe1, 1);
        expected.emplace_back(keysym, 1);
        expected.emplace_back(keysym, 0);
        if (shift)
            expected.emplace_back(0xffe1, 0);
    };
    character('O', true);
    character('w', false);
    character(0xe9, false);
    EXPECT_EQ(Keysyms(), expected);
    EXPECT_EQ(Count(QStringLiteral("RemoteDesktop.SelectDevices types=1 persist=2 restore=")), 1);

    // A second press types in the same session, without asking again.
    Press(identity.AutoTypeAtom);
    ASSERT_TRUE(WaitFor([&] { return Keysyms().size() >= 2 * expected.size(); }));
    EXPECT_EQ(Count(QStringLiteral("RemoteDesktop.Start")), 1);

    // The next start brings the grant's token along.
    window.reset();
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return Count(QStringLiteral("BindShortcuts")) == 2; }));
    Press(identity.AutoTypeAtom);
    EXPECT_TRUE(WaitFor([&] { return Count(QStringLiteral("restore=granted-once")) == 1; }));
    EXPECT_EQ(History(), "");
}

TEST_F(PortalTest, RefusalsAreSaidOnceAndTheTextGoesToTheClipboard)
{
    options.Set(Opt::AutoType, "Ow");
    // The user grants the AutoType key only, then refuses the keyboard.
    StartPortal({QStringLiteral("--decline-keyboard"),
                 QStringLiteral("--grant-only=zibtam-%1").arg(identity.AutoTypeAtom)});
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return History().find("refused") != std::string::npos; }));
    EXPECT_NE(History().find("The hot keys Super+G and Shift+Super+G were refused"),
              std::string::npos)
        << History();
    EXPECT_NE(History().find("make a shortcut in the desktop's keyboard settings that runs "
                             "zibtam"),
              std::string::npos)
        << History();

    for (int press = 0; press < 2; ++press) {
        QGuiApplication::clipboard()->clear();
        Press(identity.AutoTypeAtom);
        EXPECT_TRUE(
            WaitFor([] { return QGuiApplication::clipboard()->text() == QLatin1String("Ow"); }));
    }
    EXPECT_TRUE(Keysyms().empty());
    std::string history = History();
    size_t said = history.find(CPortalAutoType::kRefusedText);
    EXPECT_NE(said, std::string::npos) << history;
    EXPECT_EQ(history.find(CPortalAutoType::kRefusedText, said + 1), std::string::npos)
        << "said once";
}

TEST_F(PortalTest, WithoutThePortalsOneNoticeSaysWhatIsMissing)
{
    options.Set(Opt::AutoType, "Ow");
    struct Case
    {
        const char* Name;
        QStringList Flags; // empty: no portal on the bus at all
        bool Started;
    };
    for (const Case& c : {Case{"no portal", {}, false},
                          Case{"no GlobalShortcuts", {QStringLiteral("--no-shortcuts")}, true}}) {
        if (c.Started)
            StartPortal(c.Flags);
        OpenWindow();
        ASSERT_TRUE(WaitFor([&] { return !History().empty(); })) << c.Name;
        EXPECT_EQ(History(),
                  "The hot keys Super+G, Shift+Super+G and Control+Alt+Shift+N cannot be used "
                  "on this desktop: it offers programs no global shortcuts (its desktop portal "
                  "has no GlobalShortcuts service).\nTo bring Zib Tam up with a key, make a "
                  "shortcut in the desktop's keyboard settings that runs zibtam: starting it "
                  "again shows the window.\n")
            << c.Name;
        EXPECT_TRUE(prompt.Messages.empty()) << c.Name << ": no message box";
        window.reset();
    }
}

TEST_F(PortalTest, WithoutRemoteDesktopTheTextGoesToTheClipboard)
{
    options.Set(Opt::AutoType, "Ow");
    StartPortal({QStringLiteral("--no-keyboard")});
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return Count(QStringLiteral("BindShortcuts")) == 1; }));
    QGuiApplication::clipboard()->clear();
    Press(identity.AutoTypeAtom);
    EXPECT_TRUE(
        WaitFor([] { return QGuiApplication::clipboard()->text() == QLatin1String("Ow"); }));
    EXPECT_NE(History().find(CPortalAutoType::kNoTypingText), std::string::npos) << History();
}

TEST_F(PortalTest, WhereOnlyTheProgramInFrontMaySetTheClipboardTheTextWaitsForTheFocus)
{
    // A Wayland desktop refuses the clipboard to a program without the focus, silently.
    bool inFront = false;
    CPortalAutoType::ClipboardNeedsFocus = [&] { return !inFront; };
    struct Restore
    {
        ~Restore()
        {
            CPortalAutoType::ClipboardNeedsFocus = CPortalAutoType::DefaultClipboardNeedsFocus;
        }
    } restore;
    options.Set(Opt::AutoType, "Ow");
    StartPortal({QStringLiteral("--no-keyboard")});
    OpenWindow();
    ASSERT_TRUE(WaitFor([&] { return Count(QStringLiteral("BindShortcuts")) == 1; }));
    QGuiApplication::clipboard()->setText(QStringLiteral("the user's own"));
    Press(identity.AutoTypeAtom);
    EXPECT_TRUE(WaitFor([&] {
        return History().find(CPortalAutoType::kWaitingForFocusText) != std::string::npos;
    })) << History();
    EXPECT_EQ(History().find(CPortalAutoType::kNoTypingText), std::string::npos)
        << "not said to be on the clipboard before it is";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("the user's own"));

    inFront = true;
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QLatin1String("Ow"));
    EXPECT_NE(History().find(CPortalAutoType::kNoTypingText), std::string::npos) << History();
}

} // namespace
