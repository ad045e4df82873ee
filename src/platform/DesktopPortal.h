#pragma once
// The desktop portal (xdg-desktop-portal) on the session bus: what a sandbox-free program on
// a Wayland desktop asks for global shortcuts and for typing into other programs. A portal
// method answers at once with the path of a request object; the outcome, often after the
// desktop asked the user, comes later as that object's Response signal.
//
// Use:
//   CDesktopPortal::Request(this, kGlobalShortcuts, "CreateSession", {QVariantMap{...}},
//                           [](PortalOutcome outcome, const QVariantMap& results) { ... });
#include <QDBusConnection>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

enum class PortalOutcome
{
    Granted,  // response 0
    Declined, // response 1: the user said no
    Failed,   // response 2, or an answer without sense
    Missing,  // no portal on the bus, or it lacks the interface or a backend for it
};

class CDesktopPortal
{
public:
    static constexpr char kService[] = "org.freedesktop.portal.Desktop";
    static constexpr char kPath[] = "/org/freedesktop/portal/desktop";

    using Done = std::function<void(PortalOutcome outcome, const QVariantMap& results)>;

    // Calls `method` of `interface`. The last of `arguments` is the options map; the
    // request's handle token is added to it. `done` runs once, from the event loop, unless
    // `context` goes first.
    static void Request(QObject* context, const QString& interface, const QString& method,
                        QVariantList arguments, Done done);
    // Creates a session of `interface`; `done` gets the outcome and the session's handle
    // (a grant without a handle counts as Failed).
    static void
    CreateSession(QObject* context, const QString& interface,
                  std::function<void(PortalOutcome outcome, const QString& session)> done);
    // A call whose answer is not waited for (the keyboard's key events).
    static void Send(const QString& interface, const QString& method,
                     const QVariantList& arguments);
    // Ends a session of the portal (nothing when `session` is empty).
    static void CloseSession(const QString& session);
    // Reads a property of an interface of the portal; `done` gets an invalid value when it
    // cannot be had.
    static void ReadProperty(QObject* context, const QString& interface, const QString& name,
                             std::function<void(const QVariant&)> done);

    // A token unique in this process, for handle_token and session_handle_token.
    static QString Token();
    // The "session_handle" of a CreateSession response (a string, or an object path).
    static QString SessionHandle(const QVariantMap& results);

    static QDBusConnection Bus() { return QDBusConnection::sessionBus(); }
};

// One request waiting for its Response (a detail of CDesktopPortal::Request).
class CPortalResponse : public QObject
{
    Q_OBJECT
public:
    CPortalResponse(QObject* context, CDesktopPortal::Done done);
    void Listen(const QString& requestPath);
    void ListenIfMoved(const QString& requestPath);
    void Finish(PortalOutcome outcome, const QVariantMap& results = {});

public slots:
    void OnResponse(uint response, const QVariantMap& results);

private:
    void StopListening();
    CDesktopPortal::Done m_done;
    QString m_path;
};
