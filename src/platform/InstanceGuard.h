#pragma once
// One copy per kind and mode on a user's desktop. The first copy holds a lock file and
// listens on a per-user local socket named after its mutex; a later copy finds it there,
// does the identification exchange and hands it the show request.
#include "platform/Identity.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

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
    bool ShowRunningInstance(int timeoutMs = 200);
    // Asks the running copy of this kind and mode to end (setup replaces or removes it).
    bool CloseRunningInstance(int timeoutMs = 1000);

    // Folder of the lock files and sockets: $XDG_RUNTIME_DIR/zibtam, else a private
    // folder in the temporary folder.
    static QString RuntimeFolder();

signals:
    void showRequested();
    void closeRequested();

private:
    void OnConnection();
    bool SendRequest(quint32 request, int timeoutMs);

    const InstanceIdentity& m_identity;
    InstanceMode m_mode;
    QString m_socketPath;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
