#include "app/desktop/AtSpiPasswordFocus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>

namespace {

const QString kConnectionName = QStringLiteral("zibtam-accessibility");

} // namespace

CAtSpiPasswordFocus::CAtSpiPasswordFocus(QObject* parent) : QObject(parent) {}

CAtSpiPasswordFocus::~CAtSpiPasswordFocus()
{
    if (m_bus)
        QDBusConnection::disconnectFromBus(kConnectionName);
}

bool CAtSpiPasswordFocus::Start()
{
    if (m_bus)
        return true;
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return false;
    // The accessibility bus is a bus of its own; the session bus tells where it is.
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    QDBusReply<QString> address = session.call(ask, QDBus::Block, 2000);
    if (!address.isValid() || address.value().isEmpty())
        return false;
    auto bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(address.value(), kConnectionName));
    if (!bus->isConnected()) {
        QDBusConnection::disconnectFromBus(kConnectionName);
        return false;
    }
    // Programs only report what some listener has asked the registry for.
    for (const char* event : {"object:state-changed:focused", "window:deactivate"})
        bus->call(QDBusMessage::createMethodCall(QStringLiteral("org.a11y.atspi.Registry"),
                                                 QStringLiteral("/org/a11y/atspi/registry"),
                                                 QStringLiteral("org.a11y.atspi.Registry"),
                                                 QStringLiteral("RegisterEvent"))
                      << QString::fromLatin1(event),
                  QDBus::Block, 2000);
    bool connected =
        bus->connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                     QStringLiteral("StateChanged"), this, SLOT(OnStateChanged(QDBusMessage))) &&
        bus->connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Window"),
                     QStringLiteral("Deactivate"), this, SLOT(OnDeactivated(QDBusMessage)));
    if (!connected) {
        QDBusConnection::disconnectFromBus(kConnectionName);
        return false;
    }
    m_bus = std::move(bus);
    return true;
}

void CAtSpiPasswordFocus::OnDeactivated(const QDBusMessage& message)
{
    // A program whose window goes to the back keeps its focus object but not the keyboard;
    // some do not say that the object lost the focus.
    if (message.service() == m_focusedService)
        Forget();
}

void CAtSpiPasswordFocus::Forget()
{
    m_focusedService.clear();
    m_focusedPath.clear();
    m_passwordFocused = false;
    ++m_generation;
}

void CAtSpiPasswordFocus::OnStateChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || arguments[0].toString() != QLatin1String("focused"))
        return;
    bool gained = arguments[1].toInt() != 0;
    QString service = message.service();
    QString path = message.path();
    if (!gained) {
        if (service == m_focusedService && path == m_focusedPath)
            Forget();
        return;
    }
    m_focusedService = service;
    m_focusedPath = path;
    m_passwordFocused = false;
    unsigned generation = ++m_generation;
    QDBusMessage role = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRole"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(role, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        QDBusPendingReply<uint32_t> reply = *watcher;
        if (generation == m_generation && reply.isValid())
            m_passwordFocused = reply.value() == kPasswordTextRole;
        watcher->deleteLater();
    });
}
