// The desktop's notifications against a test double of the notification service on a
// private session bus (the test runs under dbus-run-session).
#include "app/desktop/DesktopNotifications.h"

#include "WindowRig.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/ChatNotifier.h"
#include "app/desktop/UsersListWidget.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QVariantMap>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The documented interface, recording what it is asked.
class CNotificationsDouble : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown
    {
        uint ReplacesId;
        QString Summary;
        QString Body;
        QStringList Actions;
        QVariantMap Hints;
    };
    QStringList Caps{QStringLiteral("body"), QStringLiteral("body-markup"),
                     QStringLiteral("actions"), QStringLiteral("inline-reply")};
    std::vector<Shown> Notified;
    std::vector<uint> Closed;
    uint NextId = 41;

public slots:
    QStringList GetCapabilities() { return Caps; }
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int)
    {
        Notified.push_back({replacesId, summary, body, actions, hints});
        return replacesId != 0 ? replacesId : ++NextId;
    }
    void CloseNotification(uint id) { Closed.push_back(id); }
    void GetServerInformation(QString& name, QString& vendor, QString& version, QString& spec)
    {
        name = vendor = version = QStringLiteral("double");
        spec = QStringLiteral("1.2");
    }
};

bool WaitFor(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

class DesktopNotificationsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        server =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("double"));
        ASSERT_TRUE(server.registerObject(QLatin1String(kNotificationsPath), &service,
                                          QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(server.registerService(QLatin1String(kNotificationsService)));
    }
    void TearDown() override
    {
        server.unregisterService(QLatin1String(kNotificationsService));
        server.unregisterObject(QLatin1String(kNotificationsPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("double"));
    }
    void Emit(const char* name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QLatin1String(kNotificationsPath), QStringLiteral("org.freedesktop.Notifications"),
            QLatin1String(name));
        signal.setArguments(arguments);
        server.send(signal);
    }

    CNotificationsDouble service;
    QDBusConnection server{QString()};
};

TEST_F(DesktopNotificationsTest, OnePerSenderReplacedWithdrawnAndAnswered)
{
    CDesktopNotifications notes;
    EXPECT_TRUE(notes.IsAvailable());
    ASSERT_TRUE(WaitFor([&] { return !notes.Capabilities().isEmpty(); }));

    notes.Post(QStringLiteral("Ann"), QStringLiteral("Lunch at <b>one</b> & then?"));
    ASSERT_TRUE(WaitFor([&] { return service.Notified.size() == 1; }));
    const auto& first = service.Notified[0];
    EXPECT_EQ(first.ReplacesId, 0u);
    EXPECT_EQ(first.Summary, QStringLiteral("Ann"));
    // The server reads markup: the text is shown as text.
    EXPECT_EQ(first.Body, QStringLiteral("Lunch at &lt;b&gt;one&lt;/b&gt; &amp; then?"));
    EXPECT_EQ(first.Hints.value(QStringLiteral("desktop-entry")).toString(),
              QStringLiteral("com.fernquillsoft.zibtam"));
    EXPECT_EQ(first.Hints.value(QStringLiteral("category")).toString(),
              QStringLiteral("im.received"));
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("default")));
    EXPECT_TRUE(first.Actions.contains(QStringLiteral("inline-reply")));

    // Ann again replaces her notification; Bob gets his own.
    notes.Post(QStringLiteral("Ann"), QStringLiteral("second"));
    notes.Post(QStringLiteral("Bob"), QStringLiteral("hello"));
    ASSERT_TRUE(WaitFor([&] { return service.Notified.size() == 3; }));
    const uint annId = service.NextId - 1;
    uint bobId = 0;
    for (size_t i = 1; i < 3; ++i) {
        if (service.Notified[i].Summary == QStringLiteral("Ann")) {
            EXPECT_EQ(service.Notified[i].ReplacesId, annId);
            EXPECT_EQ(service.Notified[i].Body, QStringLiteral("second"));
        } else {
            EXPECT_EQ(service.Notified[i].ReplacesId, 0u);
            bobId = service.NextId;
        }
    }

    // The default action asks for the window with Ann; a reply typed there goes to Bob.
    QSignalSpy shown(&notes, &CDesktopNotifications::ShowRequested);
    QSignalSpy replied(&notes, &CDesktopNotifications::ReplyTyped);
    Emit("ActionInvoked", {annId, QStringLiteral("default")});
    Emit("NotificationReplied", {bobId, QStringLiteral("on my way")});
    ASSERT_TRUE(WaitFor([&] { return shown.size() == 1 && replied.size() == 1; }));
    EXPECT_EQ(shown[0][0].toString(), QStringLiteral("Ann"));
    EXPECT_EQ(replied[0][0].toString(), QStringLiteral("Bob"));
    EXPECT_EQ(replied[0][1].toString(), QStringLiteral("on my way"));

    // The user looked at the window: both are withdrawn.
    notes.WithdrawAll();
    ASSERT_TRUE(WaitFor([&] { return service.Closed.size() == 2; }));
    std::sort(service.Closed.begin(), service.Closed.end());
    EXPECT_EQ(service.Closed, (std::vector<uint>{annId, bobId}));
}

TEST_F(DesktopNotificationsTest, ABodyIsOneParagraphCutAtAWord)
{
    struct Case
    {
        QString Text;
        bool Markup;
        QString Body;
    } cases[] = {
        {QStringLiteral("two\nlines"), false, QStringLiteral("two lines")},
        {QStringLiteral("a <i>&"), false, QStringLiteral("a <i>&")},
        {QStringLiteral("a <i>&"), true, QStringLiteral("a &lt;i&gt;&amp;")},
        {QString(150, QLatin1Char('x')) + QLatin1Char(' ') + QString(100, QLatin1Char('y')), false,
         QString(150, QLatin1Char('x')) + QChar(0x2026)},
        {QString(300, QLatin1Char('z')), false,
         QString(CDesktopNotifications::kBodyLimit, QLatin1Char('z')) + QChar(0x2026)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CDesktopNotifications::BodyText(c.Text, c.Markup), c.Body)
            << c.Text.toStdString();
}

TEST(DesktopNotificationsNoServerTest, WithoutAServerNothingIsShownAndNothingBreaks)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    CDesktopNotifications notes;
    EXPECT_FALSE(notes.IsAvailable());
    notes.Post(QStringLiteral("Ann"), QStringLiteral("hi"));
    notes.WithdrawAll();
    WaitFor([] { return false; }, 200);
}

// The chat window posts for each message that arrives while it is hidden, replaces the
// sender's notification with his next message, withdraws it when the user looks, and comes
// up with the sender chosen when the notification is clicked.
class DesktopNotificationsWindowTest : public DesktopNotificationsTest, protected FlashingWindowRig
{
};

TEST_F(DesktopNotificationsWindowTest, TheChatWindowNotifiesWhileHidden)
{
    StartBoth(false);
    owen->hide();

    ann.users.SelectUsers({"Owen"}, true);
    for (const char* text : {"Are you there?", "Coffee <now>"}) {
        std::string typed = text;
        ASSERT_TRUE(ann.controller->SendTyped(typed, false));
        RunBoth(200);
    }
    ASSERT_TRUE(WaitFor([&] { return service.Notified.size() == 2; }));
    EXPECT_EQ(service.Notified[0].Summary, QStringLiteral("Ann"));
    EXPECT_EQ(service.Notified[0].Body, QStringLiteral("Are you there?"));
    EXPECT_EQ(service.Notified[1].ReplacesId, service.NextId);
    EXPECT_EQ(service.Notified[1].Body, QStringLiteral("Coffee &lt;now&gt;"));

    Emit("ActionInvoked", {service.NextId, QStringLiteral("default")});
    ASSERT_TRUE(WaitFor([&] { return owen->isVisible() && !owen->isMinimized(); }));
    EXPECT_EQ(owen->Users()->DisplayedText(), QStringLiteral("Ann"));
    QApplication::setActiveWindow(owen.get());
    ASSERT_TRUE(WaitFor([&] { return service.Closed.size() == 1; }));
    EXPECT_EQ(service.Closed[0], service.NextId);
    owen.reset();
}

} // namespace

#include "DesktopNotificationsTest.moc"
