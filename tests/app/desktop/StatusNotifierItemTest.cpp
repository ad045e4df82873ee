// The tray icon as a StatusNotifierItem, against a test double of the panel's watcher on a
// private session bus (the test runs under dbus-run-session; the chat window's case on an
// X11 desktop of its own too). The double and the test's calls to the item use a
// connection of their own, the way a panel would.
#include "app/desktop/StatusNotifierItem.h"

#include "EventWait.h"
#include "WindowRig.h"
#include "app/desktop/ChatDlg.h"
#include "app/desktop/ChatNotifier.h"
#include "app/desktop/ProgramIcons.h"
#include "app/desktop/TrayIcon.h"
#include "app/desktop/WidgetNotifierHost.h"
#include "platform/SoundPlayer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QVariantMap>
#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

// The window manager has no state for the window: it is neither shown nor minimised.
bool IsWithdrawn(WId window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return true;
    xcb_connection_t* connection = x11->connection();
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 8, "WM_STATE"), nullptr);
    if (!atom)
        return false;
    xcb_get_property_reply_t* property =
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, static_cast<xcb_window_t>(window),
                                                atom->atom, atom->atom, 0, 2),
                               nullptr);
    free(atom);
    bool withdrawn = !property || xcb_get_property_value_length(property) < 4 ||
                     *static_cast<const uint32_t*>(xcb_get_property_value(property)) == 0;
    free(property);
    return withdrawn;
}

// The watcher's documented interface, recording the items that register.
class CWatcherDouble : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER HostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER Registered)
    Q_PROPERTY(int ProtocolVersion MEMBER Version)
public:
    bool HostRegistered = true;
    QStringList Registered;
    int Version = 0;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { Registered << service; }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};

// What the item says on the bus.
class CItemSignals : public QObject
{
    Q_OBJECT
public:
    QStringList Statuses;
    int Icons = 0;

public slots:
    void OnNewStatus(const QString& status) { Statuses << status; }
    void OnNewIcon() { ++Icons; }
};

class StatusNotifierItemTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        panel = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("panel"));
        ASSERT_TRUE(panel.registerObject(QLatin1String(kStatusNotifierWatcherPath), &watcher,
                                         QDBusConnection::ExportAllContents));
        StartWatcher();
    }
    void TearDown() override
    {
        StopWatcher();
        panel.unregisterObject(QLatin1String(kStatusNotifierWatcherPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
    }
    void StartWatcher()
    {
        ASSERT_TRUE(panel.registerService(QLatin1String(kStatusNotifierWatcherService)));
    }
    void StopWatcher() { panel.unregisterService(QLatin1String(kStatusNotifierWatcherService)); }

    QDBusPendingCall CallItem(const QString& service, const char* interface, const char* method,
                              const QVariantList& arguments)
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(service, QLatin1String(kStatusNotifierItemPath),
                                           QLatin1String(interface), QLatin1String(method));
        call.setArguments(arguments);
        return panel.asyncCall(call);
    }
    QVariantMap Properties(const QString& service)
    {
        QDBusPendingReply<QVariantMap> reply =
            CallItem(service, "org.freedesktop.DBus.Properties", "GetAll",
                     {QLatin1String(kStatusNotifierItemInterface)});
        EXPECT_TRUE(WaitFor([&] { return reply.isFinished(); }));
        EXPECT_TRUE(reply.isValid()) << reply.error().message().toStdString();
        return reply.value();
    }
    // Watches the item's signals as the panel would.
    void Listen(const QString& service, CItemSignals& listener)
    {
        const QString path = QLatin1String(kStatusNotifierItemPath);
        const QString interface = QLatin1String(kStatusNotifierItemInterface);
        ASSERT_TRUE(panel.connect(service, path, interface, QStringLiteral("NewStatus"), &listener,
                                  SLOT(OnNewStatus(QString))));
        ASSERT_TRUE(panel.connect(service, path, interface, QStringLiteral("NewIcon"), &listener,
                                  SLOT(OnNewIcon())));
    }

    CWatcherDouble watcher;
    QDBusConnection panel{QString()};
};

template <typename T> T Read(const QVariant& value)
{
    return qdbus_cast<T>(value.value<QDBusArgument>());
}

// Every size a panel picks from holds the icon's pixels, each as A, R, G, B bytes.
void ExpectShows(const SniPixmaps& pixmaps, const QIcon& icon)
{
    std::vector<int> sizes;
    for (const SniPixmap& pixmap : pixmaps) {
        sizes.push_back(pixmap.Width);
        ASSERT_EQ(pixmap.Height, pixmap.Width);
        QImage image = icon.pixmap(QSize(pixmap.Width, pixmap.Height), 1.0)
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(pixmap.Width, pixmap.Height));
        ASSERT_EQ(pixmap.Data.size(), qsizetype(pixmap.Width) * pixmap.Height * 4);
        const auto* bytes = reinterpret_cast<const uchar*>(pixmap.Data.constData());
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x, bytes += 4) {
                QRgb pixel = image.pixel(x, y);
                ASSERT_EQ(
                    (std::array<int, 4>{bytes[0], bytes[1], bytes[2], bytes[3]}),
                    (std::array<int, 4>{qAlpha(pixel), qRed(pixel), qGreen(pixel), qBlue(pixel)}))
                    << pixmap.Width << " px at " << x << "," << y;
                opaque += qAlpha(pixel) == 255;
            }
        EXPECT_GT(opaque, 0) << pixmap.Width << " px";
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 22, 24, 32, 48}));
}

TEST_F(StatusNotifierItemTest, TheTrayIconRegistersAnItemThatDescribesItself)
{
    struct Case
    {
        bool Secondary;
        QString Id;
        QString Title;
        int OfflineIcon;
        int OnlineIcon;
    } cases[] = {
        {false, QStringLiteral("zibtam"), QStringLiteral("Zib Tam"), 202, 106},
        {true, QStringLiteral("zibtam-secondary"), QStringLiteral("Zib Tam (Secondary)"), 207, 107},
    };
    const QRegularExpression name(QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-\\d+$")
                                      .arg(QCoreApplication::applicationPid()));
    QStringList services;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Title.toStdString());
        CManualClock clock;
        CRandom random;
        CTrayIcon tray(InstanceIdentity::For(c.Secondary), clock, random);
        // The item stands in for the XEmbed icon: there is no second one.
        EXPECT_EQ(tray.SystemTrayIcon(), nullptr);
        ASSERT_NE(tray.StatusNotifierItem(), nullptr);
        EXPECT_TRUE(tray.IsAvailable());
        ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == services.size() + 1; }));
        const QString service = watcher.Registered.last();
        EXPECT_TRUE(name.match(service).hasMatch()) << service.toStdString();
        EXPECT_FALSE(services.contains(service));
        services << service;

        QVariantMap properties = Properties(service);
        EXPECT_EQ(properties.value(QStringLiteral("Category")).toString(),
                  QStringLiteral("Communications"));
        EXPECT_EQ(properties.value(QStringLiteral("Id")).toString(), c.Id);
        EXPECT_EQ(properties.value(QStringLiteral("Title")).toString(), c.Title);
        EXPECT_EQ(properties.value(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
        EXPECT_EQ(properties.value(QStringLiteral("ItemIsMenu")), QVariant(false));
        EXPECT_EQ(properties.value(QStringLiteral("Menu")).value<QDBusObjectPath>().path(),
                  QStringLiteral("/NO_DBUSMENU"));
        EXPECT_EQ(Read<SniToolTip>(properties.value(QStringLiteral("ToolTip"))).Title,
                  QStringLiteral("Zib Tam Freeware"));
        ExpectShows(Read<SniPixmaps>(properties.value(QStringLiteral("IconPixmap"))),
                    ProgramIcon(c.OfflineIcon));
        ExpectShows(Read<SniPixmaps>(properties.value(QStringLiteral("AttentionIconPixmap"))),
                    AttentionIcon());

        // A new icon is announced and read anew.
        CItemSignals heard;
        Listen(service, heard);
        tray.SetStatus(true);
        ASSERT_TRUE(WaitFor([&] { return heard.Icons == 1; }));
        ExpectShows(Read<SniPixmaps>(Properties(service).value(QStringLiteral("IconPixmap"))),
                    ProgramIcon(c.OnlineIcon));
    }
}

TEST_F(StatusNotifierItemTest, AClickAsksForTheChatWindowAndTheMenuPopsUpWhereThePanelSays)
{
    CManualClock clock;
    CRandom random;
    CTrayIcon tray(InstanceIdentity::For(false), clock, random);
    std::vector<int> commands;
    QObject::connect(&tray, &CTrayIcon::CommandChosen, [&](int c) { commands.push_back(c); });
    ASSERT_TRUE(WaitFor([&] { return !watcher.Registered.isEmpty(); }));
    const QString service = watcher.Registered.last();
    const char* item = kStatusNotifierItemInterface;

    // A middle click and the wheel ask for nothing; a click with the Wayland compositor's
    // token lets the window that comes up take the focus.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    std::vector<QDBusPendingCall> calls{
        CallItem(service, item, "SecondaryActivate", {5, 5}),
        CallItem(service, item, "Scroll", {120, QStringLiteral("vertical")}),
        CallItem(service, item, "ProvideXdgActivationToken", {QStringLiteral("token-7")}),
        CallItem(service, item, "Activate", {5, 5})};
    for (QDBusPendingCall& call : calls) {
        ASSERT_TRUE(WaitFor([&] { return call.isFinished(); }));
        EXPECT_FALSE(call.isError()) << call.error().message().toStdString();
    }
    EXPECT_EQ(commands, (std::vector<int>{CTrayIcon::kChat}));
    EXPECT_EQ(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-7"));
    qunsetenv("XDG_ACTIVATION_TOKEN");

    // The panel asks for the menu at the item: Exit and the rest are there.
    QDBusPendingCall menu = CallItem(service, item, "ContextMenu", {300, 200});
    ASSERT_TRUE(WaitFor([&] { return tray.Menu()->isVisible(); }));
    EXPECT_EQ(tray.Menu()->pos(), QPoint(300, 200));
    EXPECT_EQ(tray.Menu()->actions().last()->text(), QStringLiteral("E&xit"));
    tray.Menu()->actions().last()->trigger();
    tray.Menu()->hide();
    EXPECT_EQ(commands.back(), CTrayIcon::kExit);
}

TEST_F(StatusNotifierItemTest, TheItemFollowsThePanelAsItComesAndGoes)
{
    CManualClock clock;
    CRandom random;
    CTrayIcon tray(InstanceIdentity::For(false), clock, random);
    ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == 1; }));

    // The panel ends: nothing shows the item, so the window stays on the task bar.
    StopWatcher();
    ASSERT_TRUE(WaitFor([&] { return !tray.IsAvailable(); }));
    // It restarts: the new watcher is told of the item.
    StartWatcher();
    ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == 2; }));
    EXPECT_EQ(watcher.Registered[1], watcher.Registered[0]);
    EXPECT_TRUE(tray.IsAvailable());

    // A watcher without a panel to show its items does not count, until a panel comes.
    watcher.HostRegistered = false;
    StopWatcher();
    StartWatcher();
    ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == 3; }));
    ASSERT_TRUE(WaitFor([&] { return !tray.IsAvailable(); }));
    watcher.HostRegistered = true;
    emit watcher.StatusNotifierHostRegistered();
    ASSERT_TRUE(WaitFor([&] { return tray.IsAvailable(); }));
}

TEST(StatusNotifierItemNoWatcherTest, WithoutAWatcherTheIconIsTheXEmbedOne)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    CManualClock clock;
    CRandom random;
    CTrayIcon tray(InstanceIdentity::For(false), clock, random);
    EXPECT_EQ(tray.StatusNotifierItem(), nullptr);
    ASSERT_NE(tray.SystemTrayIcon(), nullptr);
    EXPECT_TRUE(tray.SystemTrayIcon()->isVisible());
    QStringList names = QDBusConnection::sessionBus().interface()->registeredServiceNames();
    EXPECT_TRUE(names.filter(QStringLiteral("StatusNotifierItem")).isEmpty());
}

// The window's flashing is one spell of needing attention: its phases leave the item alone
// while nobody looks, and it ends when the user looks or the window pops up.
TEST_F(StatusNotifierItemTest, TheFlashingIsOneSpellOfNeedingAttention)
{
    CManualClock clock;
    CRandom random;
    CTrayIcon tray(InstanceIdentity::For(false), clock, random);
    tray.SetStatus(true);
    QWidget window;
    CSoundPlayer sounds;
    CWidgetNotifierHost host(window, &tray, sounds, nullptr, {});
    ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == 1; }));
    CItemSignals heard;
    Listen(watcher.Registered[0], heard);
    auto heardAfter = [&](const QStringList& statuses) {
        WaitFor([&] { return heard.Statuses.size() >= statuses.size(); });
        // Whatever else is on its way arrives too.
        WaitFor([] { return false; }, 100);
        return heard.Statuses == statuses;
    };
    const QString attention = QStringLiteral("NeedsAttention");
    const QString active = QStringLiteral("Active");

    for (bool on : {true, false, true, false})
        host.Flash(on);
    EXPECT_TRUE(heardAfter({attention})) << heard.Statuses.join(u',').toStdString();
    EXPECT_TRUE(tray.StatusNotifierItem()->NeedsAttention());
    EXPECT_EQ(heard.Icons, 0);

    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(WaitFor([&] { return host.IsUserLooking(); }));
    host.Flash(false);
    EXPECT_TRUE(heardAfter({attention, active})) << heard.Statuses.join(u',').toStdString();

    window.hide();
    host.Flash(true);
    host.PopUp();
    EXPECT_TRUE(heardAfter({attention, active, attention, active}))
        << heard.Statuses.join(u',').toStdString();
    EXPECT_EQ(heard.Icons, 0);
}

// The chat window's tray item needs attention while a message is unseen, steadily instead
// of blinking, and is active again once the window is shown. On the X11 desktop: there a
// window shown minimised stays inactive, so the window flashes as it does for users.
class StatusNotifierWindowTest : public StatusNotifierItemTest, protected FlashingWindowRig
{
};

TEST_F(StatusNotifierWindowTest, TheItemNeedsAttentionWhileAMessageIsUnseen)
{
    StartBoth(true);
    ASSERT_NE(owen->Tray(), nullptr);
    EXPECT_EQ(owen->Tray()->SystemTrayIcon(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return watcher.Registered.size() == 1; }));
    const QString service = watcher.Registered[0];
    CItemSignals heard;
    Listen(service, heard);
    owen->hide();
    const int iconsBefore = heard.Icons;
    auto status = [&] { return Properties(service).value(QStringLiteral("Status")).toString(); };
    // The window manager has let the hidden window go (else it may take the window's next
    // showing for a return of the old one, and bring it up normal and active).
    ASSERT_TRUE(WaitFor([&] { return IsWithdrawn(owen->winId()); }));
    ann.users.SelectUsers({"Owen"}, true);
    std::string typed = "Are you there?";
    ASSERT_TRUE(ann.controller->SendTyped(typed, false));
    RunBoth(200);
    ASSERT_TRUE(WaitFor([&] { return !heard.Statuses.isEmpty(); }));
    EXPECT_EQ(status(), QStringLiteral("NeedsAttention"));
    // Several phases of the flashing later it still says so, once, and no icon was sent.
    WaitFor([] { return false; }, 3 * CChatNotifier::kFlashPeriodMs);
    EXPECT_EQ(heard.Statuses, QStringList{QStringLiteral("NeedsAttention")});
    EXPECT_EQ(heard.Icons, iconsBefore);

    // A click on the item shows the window: the message is seen.
    CallItem(service, kStatusNotifierItemInterface, "Activate", {10, 10});
    ASSERT_TRUE(WaitFor([&] { return owen->isVisible() && !owen->isMinimized(); }));
    ASSERT_TRUE(WaitFor([&] { return heard.Statuses.size() == 2; }));
    EXPECT_EQ(heard.Statuses.last(), QStringLiteral("Active"));
    EXPECT_EQ(status(), QStringLiteral("Active"));

    owen.reset();
}

} // namespace

#include "StatusNotifierItemTest.moc"
