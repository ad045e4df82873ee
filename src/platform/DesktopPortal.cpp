#include "platform/DesktopPortal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <unistd.h>

namespace {

constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";

QDBusMessage Call(const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(CDesktopPortal::kService),
                                       QLatin1String(CDesktopPortal::kPath), interface, method);
    call.setArguments(arguments);
    return call;
}

} // namespace

CPortalResponse::CPortalResponse(QObject* context, CDesktopPortal::Done done)
    : QObject(context), m_done(std::move(done))
{}

void CPortalResponse::Listen(const QString& requestPath)
{
    StopListening();
    m_path = requestPath;
    CDesktopPortal::Bus().connect(QLatin1String(CDesktopPortal::kService), m_path,
                                  QLatin1String(kRequestInterface), QStringLiteral("Response"),
                                  this, SLOT(OnResponse(uint, QVariantMap)));
}

void CPortalResponse::ListenIfMoved(const QString& requestPath)
{
    // Portals older than the handle token chose the path themselves.
    if (requestPath != m_path)
        Listen(requestPath);
}

void CPortalResponse::StopListening()
{
    if (m_path.isEmpty())
        return;
    CDesktopPortal::Bus().disconnect(QLatin1String(CDesktopPortal::kService), m_path,
                                     QLatin1String(kRequestInterface), QStringLiteral("Response"),
                                     this, SLOT(OnResponse(uint, QVariantMap)));
    m_path.clear();
}

void CPortalResponse::OnResponse(uint response, const QVariantMap& results)
{
    Finish(response == 0   ? PortalOutcome::Granted
           : response == 1 ? PortalOutcome::Declined
                           : PortalOutcome::Failed,
           results);
}

void CPortalResponse::Finish(PortalOutcome outcome, const QVariantMap& results)
{
    StopListening();
    if (!m_done)
        return;
    CDesktopPortal::Done done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    done(outcome, results);
}

QString CDesktopPortal::Token()
{
    static unsigned count = 0;
    return QStringLiteral("zibtam%1_%2").arg(getpid()).arg(++count);
}

QString CDesktopPortal::SessionHandle(const QVariantMap& results)
{
    QVariant handle = results.value(QStringLiteral("session_handle"));
    if (handle.canConvert<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

void CDesktopPortal::Request(QObject* context, const QString& interface, const QString& method,
                             QVariantList arguments, Done done)
{
    auto* response = new CPortalResponse(context, std::move(done));
    QDBusConnection bus = Bus();
    if (!bus.isConnected() || arguments.isEmpty()) {
        QMetaObject::invokeMethod(
            response, [response] { response->Finish(PortalOutcome::Missing); },
            Qt::QueuedConnection);
        return;
    }
    // The request object's path is known before the call, so its answer cannot come
    // before we listen.
    QString token = Token();
    QVariantMap options = arguments.last().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.last() = options;
    QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    response->Listen(
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(Call(interface, method, arguments)), response);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, response, [response, watcher] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError())
            response->Finish(PortalOutcome::Missing);
        else
            response->ListenIfMoved(reply.value().path());
    });
}

void CDesktopPortal::CreateSession(QObject* context, const QString& interface,
                                   std::function<void(PortalOutcome, const QString&)> done)
{
    QVariantMap options{{QStringLiteral("session_handle_token"), Token()}};
    Request(context, interface, QStringLiteral("CreateSession"), {options},
            [done = std::move(done)](PortalOutcome outcome, const QVariantMap& results) {
                QString session = SessionHandle(results);
                if (outcome == PortalOutcome::Granted && session.isEmpty())
                    outcome = PortalOutcome::Failed;
                done(outcome, session);
            });
}

void CDesktopPortal::Send(const QString& interface, const QString& method,
                          const QVariantList& arguments)
{
    Bus().asyncCall(Call(interface, method, arguments));
}

void CDesktopPortal::CloseSession(const QString& session)
{
    if (session.isEmpty() || !Bus().isConnected())
        return;
    Bus().asyncCall(QDBusMessage::createMethodCall(QLatin1String(kService), session,
                                                   QStringLiteral("org.freedesktop.portal.Session"),
                                                   QStringLiteral("Close")));
}

void CDesktopPortal::ReadProperty(QObject* context, const QString& interface, const QString& name,
                                  std::function<void(const QVariant&)> done)
{
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            context, [done] { done(QVariant()); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kPropertiesInterface), QStringLiteral("Get"));
    get.setArguments({interface, name});
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *watcher;
        done(reply.isError() ? QVariant() : reply.value().variant());
    });
}
