#pragma once
// One copy per kind and mode on a user's desktop. The first copy holds a lock file and
// listens on a per-user local socket named after its mutex; a later copy finds it there,
// does the identification exchange and hands it the show request.
#include "platform/Identity.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

// A folder `name` in the shared folder `base` that only this user can enter: made with mode
// 0700, or found as a folder (not a link) of this user with no rights for others. One that
// fails the check (another user made it first, say) is not used: the next of name.1,
// name.2, ... that passes is, with `warning` saying so. Empty when none can be had.
QString PrivateFolderIn(const QString& base, const QString& name, QString* warning = nullptr);

class CInstanceGuard : public QObject
{
    Q_OBJECT
public:
    CInstanceGuard(const InstanceIdentity& identity, InstanceMode mode, QObject* parent = nullptr);
    ~CInstanceGuard() override;

    // True when this is the only copy of its kind and mode; it then answers later copies.
    bool Acquire();

    // Finds the running copy (identification exchange) and sends it the show request.
    // True when one answered within `timeoutMs`.
    // `activationToken` (XDG_ACTIVATION_TOKEN of this start) lets its window take the focus
    // on a Wayland desktop.
    bool ShowRunningInstance(int timeoutMs = 200, const QString& activationToken = {});
    // Asks the running copy of this kind and mode to end (setup replaces or removes it).
    bool CloseRunningInstance(int timeoutMs = 1000);

    // Folder of the lock files and sockets: $XDG_RUNTIME_DIR/zibtam, else a private
    // folder in the temporary folder (PrivateFolderIn).
    static QString RuntimeFolder();

signals:
    void showRequested(const QString& activationToken);
    void closeRequested();

private:
    void OnConnection();
    bool SendRequest(quint32 request, int timeoutMs, const QByteArray& data = {});

    const InstanceIdentity& m_identity;
    InstanceMode m_mode;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
