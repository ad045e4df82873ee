#include "app/desktop/DesktopNotifications.h"

#include "platform/Identity.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kDefaultAction[] = "default";
constexpr char kReplyAction[] = "inline-reply";

QDBusMessage Call(const char* method)
{
    return QDBusMessage::createMethodCall(QLatin1String(kNotificationsService),
                                          QLatin1String(kNotificationsPath),
                                          QLatin1String(kInterface), QLatin1String(method));
}

} // namespace

CDesktopNotifications::CDesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    const QString service = QLatin1String(kNotificationsService);
    const QString path = QLatin1String(kNotificationsPath);
    const QString interface = QLatin1String(kInterface);
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(OnActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationReplied"), this,
                  SLOT(OnReplied(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(OnClosed(uint, uint)));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(Call("GetCapabilities")), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QStringList> reply = *w;
        if (reply.isValid())
            m_capabilities = reply.value();
        w->deleteLater();
    });
}

bool CDesktopNotifications::IsAvailable() const
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    const QString service = QLatin1String(kNotificationsService);
    if (m_bus.interface()->isServiceRegistered(service))
        return true;
    QDBusReply<QStringList> activatable = m_bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(service);
}

QString CDesktopNotifications::BodyText(const QString& text, bool markup)
{
    QString body = text.simplified();
    if (body.size() > kBodyLimit) {
        int cut = body.lastIndexOf(QLatin1Char(' '), kBodyLimit);
        if (cut < kBodyLimit / 2)
            cut = kBodyLimit;
        // A surrogate pair stays whole.
        if (cut > 0 && body.at(cut - 1).isHighSurrogate())
            --cut;
        body = body.left(cut) + QChar(0x2026);
    }
    return markup ? body.toHtmlEscaped() : body;
}

void CDesktopNotifications::Post(const QString& sender, const QString& text)
{
    if (!m_bus.isConnected())
        return;
    m_texts.insert(sender, text);
    m_closeWhenAnswered.remove(sender);
    if (!m_waiting.contains(sender))
        Send(sender);
}

void CDesktopNotifications::Send(const QString& sender)
{
    const QString text = m_texts.take(sender);
    const bool markup = m_capabilities.contains(QStringLiteral("body-markup"));
    QStringList actions{QLatin1String(kDefaultAction), QStringLiteral("Show")};
    if (m_capabilities.contains(QLatin1String(kReplyAction)))
        actions << QLatin1String(kReplyAction) << QStringLiteral("Reply");
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntryName));
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("x-kde-reply-placeholder-text"),
                 QString(QStringLiteral("Reply to ") + sender));
    QDBusMessage notify = Call("Notify");
    notify << QStringLiteral("Zib Tam") << m_ids.value(sender, 0u) << QStringLiteral("zibtam")
           << sender << BodyText(text, markup) << actions << hints << -1;
    m_waiting.insert(sender);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, sender](QDBusPendingCallWatcher* w) {
                QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                m_waiting.remove(sender);
                if (!reply.isValid())
                    return;
                m_ids.insert(sender, reply.value());
                if (m_closeWhenAnswered.remove(sender))
                    WithdrawAll();
                else if (m_texts.contains(sender))
                    Send(sender); // more arrived meanwhile: the same notification shows it
            });
}

void CDesktopNotifications::WithdrawAll()
{
    for (const QString& sender : std::as_const(m_waiting))
        m_closeWhenAnswered.insert(sender);
    m_texts.clear();
    for (uint id : std::as_const(m_ids)) {
        QDBusMessage close = Call("CloseNotification");
        close << id;
        m_bus.asyncCall(close);
    }
    m_ids.clear();
}

QString CDesktopNotifications::SenderOf(uint id) const
{
    for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it)
        if (it.value() == id)
            return it.key();
    return {};
}

void CDesktopNotifications::OnActionInvoked(uint id, const QString& action)
{
    QString sender = SenderOf(id);
    if (!sender.isEmpty() && action == QLatin1String(kDefaultAction))
        emit ShowRequested(sender);
}

void CDesktopNotifications::OnReplied(uint id, const QString& text)
{
    QString sender = SenderOf(id);
    if (!sender.isEmpty() && !text.isEmpty())
        emit ReplyTyped(sender, text);
}

void CDesktopNotifications::OnClosed(uint id, uint)
{
    QString sender = SenderOf(id);
    if (!sender.isEmpty())
        m_ids.remove(sender);
}
