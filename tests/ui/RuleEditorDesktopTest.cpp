// The rule editor and the link that opens it on a desktop of their own (x11-desktop.sh:
// Xvfb, openbox, a tint2 panel; dbus-run-session for the accessibility bus): the editor is
// a window the panel gives a task-bar button and that comes up in front, and a screen
// reader can find the "<Turing Technology>" link of another program and press it.
#include "AtSpiBus.h"
#include "EventWait.h"
#include "OptionsTestSupport.h"
#include "ui/OptionsSheet.h"
#include "ui/TuringDlg.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

constexpr char kHelperVariable[] = "ZT_TURING_LINK_WINDOW";

// Reads window properties the way a panel does, over a connection of its own.
class XProperties
{
public:
    XProperties() : m_connection(xcb_connect(nullptr, nullptr)) {}
    ~XProperties() { xcb_disconnect(m_connection); }
    bool Ok() const { return xcb_connection_has_error(m_connection) == 0; }
    xcb_window_t Root() const
    {
        return xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    xcb_atom_t Atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
        xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(reply);
        return atom;
    }
    // A property of 32-bit values (atoms or windows); empty when the window has none.
    std::vector<uint32_t> Values(xcb_window_t window, const char* property)
    {
        std::vector<uint32_t> values;
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, Atom(property),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                                   nullptr);
        if (reply && reply->format == 32) {
            auto* data = static_cast<uint32_t*>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        free(reply);
        return values;
    }
    bool Contains(xcb_window_t window, const char* property, uint32_t value)
    {
        std::vector<uint32_t> values = Values(window, property);
        return std::find(values.begin(), values.end(), value) != values.end();
    }

private:
    xcb_connection_t* m_connection;
};

TEST(RuleEditorDesktopTest, TheEditorHasATaskBarButtonAndComesToTheFront)
{
    if (qEnvironmentVariableIsSet(kHelperVariable))
        return;
    XProperties x;
    ASSERT_TRUE(x.Ok()) << "this test needs an X11 display";
    OptionsRig rig;
    rig.Options().Set(Opt::Turing, 1);
    // The chat window and the options page behind the editor.
    QWidget chat;
    chat.setWindowTitle(QStringLiteral("Zib Tam"));
    chat.resize(500, 400);
    chat.show();
    CGeneralPage page(rig.Context());
    page.setWindowTitle(QStringLiteral("Zib Tam Options"));
    page.show();
    ASSERT_TRUE(
        WaitFor([&] { return x.Contains(x.Root(), "_NET_ACTIVE_WINDOW", page.winId()); }, 5000));

    bool seen = false;
    rig.host.Answer = [&](QDialog& editor) {
        QTimer::singleShot(0, &editor, [&] {
            auto window = static_cast<xcb_window_t>(editor.winId());
            // Openbox makes the window it maps active.
            seen =
                WaitFor([&] { return x.Contains(x.Root(), "_NET_ACTIVE_WINDOW", window); }, 5000);
            EXPECT_TRUE(seen) << "the editor did not come to the front";
            EXPECT_TRUE(x.Contains(x.Root(), "_NET_CLIENT_LIST", window));
            // What tint2 and other panels leave out of the task bar: a window transient
            // for another, one that asks to be skipped, or a dialog of another window.
            EXPECT_TRUE(x.Values(window, "WM_TRANSIENT_FOR").empty());
            EXPECT_FALSE(x.Contains(window, "_NET_WM_STATE", x.Atom("_NET_WM_STATE_SKIP_TASKBAR")));
            EXPECT_TRUE(
                x.Contains(window, "_NET_WM_WINDOW_TYPE", x.Atom("_NET_WM_WINDOW_TYPE_NORMAL")));
            EXPECT_FALSE(
                x.Contains(window, "_NET_WM_WINDOW_TYPE", x.Atom("_NET_WM_WINDOW_TYPE_DIALOG")));
            // The whole desktop, panel included, for a person to look at once the window
            // manager has framed the windows and the panel has drawn its buttons.
            QString shots = qEnvironmentVariable("ZT_SCREENSHOT_DIR");
            if (!shots.isEmpty() && !WaitFor([] { return false; }, 3000))
                QProcess::execute(QStringLiteral("import"),
                                  {QStringLiteral("-window"), QStringLiteral("root"),
                                   shots + QStringLiteral("/rule-editor-desktop.png")});
            editor.reject();
        });
        return RunModal(editor);
    };
    page.OpenRuleEditor();
    EXPECT_TRUE(seen);
    EXPECT_EQ(rig.host.DialogsRun,
              std::vector<QString>{QStringLiteral("Zib Tam Turing Technology")});
}

// ----- over the accessibility bus -----

// The other program (this executable again, with the variable set): the General page with
// the link; it says on standard output which dialog the link ran.
class AnnouncingHost : public FakeOptionsHost
{
public:
    int RunDialog(QDialog& dialog) override
    {
        printf("ran %s\n", dialog.windowTitle().toUtf8().constData());
        fflush(stdout);
        return QDialog::Rejected;
    }
};

TEST(TuringLinkWindow, Helper)
{
    if (!qEnvironmentVariableIsSet(kHelperVariable))
        return;
    TestSettings settings;
    FakePrompt prompt;
    AnnouncingHost host;
    settings.options.Set(Opt::Turing, 1);
    CGeneralPage page(OptionsContext{settings.options, prompt, host});
    page.show();
    QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
    QApplication::exec();
}

TEST(RuleEditorDesktopTest, AScreenReaderFindsTheTuringLinkAndPressesIt)
{
    if (qEnvironmentVariableIsSet(kHelperVariable))
        return;
    AtSpiBus bus;
    ASSERT_TRUE(bus.Connect()) << "no accessibility bus on the session bus";

    QProcess helper;
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    helper.setReadChannel(QProcess::StandardOutput);
    ASSERT_TRUE(StartAccessibleHelper(helper, kHelperVariable, "TuringLinkWindow.Helper"));

    AtSpiObject link;
    EXPECT_TRUE(WaitFor(
        [&] { return bus.Find(kAtSpiRoot, QStringLiteral("<Turing Technology>"), link); }, 15000))
        << "the link is not on the accessibility bus";
    if (!link.Path.isEmpty()) {
        EXPECT_EQ(bus.String(link, "org.a11y.atspi.Accessible", "GetRoleName"),
                  QStringLiteral("link"));
        // The press action, as a screen reader offers it.
        QDBusMessage actions = bus.Call(link, "org.a11y.atspi.Action", "GetActions");
        int press = -1;
        if (!actions.arguments().isEmpty()) {
            const auto array = actions.arguments().at(0).value<QDBusArgument>();
            array.beginArray();
            for (int index = 0; !array.atEnd(); ++index) {
                QString name, description, keys;
                array.beginStructure();
                array >> name >> description >> keys;
                array.endStructure();
                if (press < 0 && (name.compare(QStringLiteral("press"), Qt::CaseInsensitive) == 0 ||
                                  name.compare(QStringLiteral("click"), Qt::CaseInsensitive) == 0))
                    press = index;
            }
            array.endArray();
        }
        ASSERT_GE(press, 0) << "the link offers no press action";
        QDBusMessage done = bus.Call(link, "org.a11y.atspi.Action", "DoAction", {press});
        EXPECT_EQ(done.type(), QDBusMessage::ReplyMessage);
        QByteArray said;
        WaitFor(
            [&] {
                helper.waitForReadyRead(50);
                said += helper.readAllStandardOutput();
                return said.contains("ran Zib Tam Turing Technology");
            },
            10000);
        EXPECT_TRUE(said.contains("ran Zib Tam Turing Technology")) << said.toStdString();
    }
    helper.kill();
    helper.waitForFinished();
}

} // namespace
