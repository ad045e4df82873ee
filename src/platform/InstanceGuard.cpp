#include "platform/InstanceGuard.h"

#include "platform/PrivateFiles.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The two requests of the hand-over, as numbers on the local socket.
constexpr quint32 kIsZibTamApplication = 1;
constexpr quint32 kShowChatWnd = 2;
constexpr quint32 kClose = 3; // setup is about to replace or remove the program
constexpr qint64 kMaxDataBytes = 4096;

constexpr int kPrivateFolderAttempts = 100;

bool ReadWord(QLocalSocket& socket, quint32& word, int timeoutMs)
{
    while (socket.bytesAvailable() < 4)
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    QDataStream stream(&socket);
    stream >> word;
    return true;
}

void WriteWords(QLocalSocket& socket, std::initializer_list<quint32> words)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (quint32 word : words)
        stream << word;
    socket.write(bytes);
}

} // namespace

CInstanceGuard::CInstanceGuard(const InstanceIdentity& identity, InstanceMode mode, QObject* parent)
    : QObject(parent), m_identity(identity), m_mode(mode)
{
    m_socketPath = RuntimeFolder() + QLatin1Char('/') +
                   QString::fromStdString(MutexName(identity.Secondary, mode));
    connect(&m_server, &QLocalServer::newConnection, this, &CInstanceGuard::OnConnection);
}

CInstanceGuard::~CInstanceGuard()
{
    m_server.close();
}

QString PrivateFolderIn(const QString& base, const QString& name, QString* warning)
{
    const QString first = base + QLatin1Char('/') + name;
    for (int attempt = 0; attempt < kPrivateFolderAttempts; ++attempt) {
        QString folder = attempt == 0 ? first : first + QLatin1Char('.') + QString::number(attempt);
        QByteArray path = QFile::encodeName(folder);
        if (mkdir(path.constData(), kPrivateFolderMode) != 0 && errno != EEXIST)
            return {};
        struct stat found
        {
        };
        if (lstat(path.constData(), &found) == 0 && S_ISDIR(found.st_mode) &&
            found.st_uid == geteuid() && (found.st_mode & 077) == 0) {
            if (attempt > 0 && warning)
                *warning = QStringLiteral("%1 is not a private folder of this user; using %2 "
                                          "instead.")
                               .arg(first, folder);
            return folder;
        }
    }
    return {};
}

QString CInstanceGuard::RuntimeFolder()
{
    QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    QString warning;
    QString folder;
    if (!runtime.isEmpty())
        folder = PrivateFolderIn(runtime, QStringLiteral("zibtam"), &warning);
    if (folder.isEmpty())
        folder =
            PrivateFolderIn(QDir::tempPath(), QStringLiteral("zibtam-%1").arg(getuid()), &warning);
    // Said once per process: every guard and the read-me page ask.
    static bool warned = false;
    if (!warning.isEmpty() && !warned) {
        warned = true;
        std::fprintf(stderr, "zibtam: %s\n", qPrintable(warning));
    }
    return folder;
}

bool CInstanceGuard::Acquire()
{
    // The lock file is the mutex: the system drops it with the process, and a lock left
    // by a crashed copy is recognised as stale by its process id.
    m_lock = std::make_unique<QLockFile>(m_socketPath + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_socketPath);
    return true;
}

bool CInstanceGuard::ShowRunningInstance(int timeoutMs, const QString& activationToken)
{
    return SendRequest(kShowChatWnd, timeoutMs, activationToken.toUtf8().left(kMaxDataBytes));
}

bool CInstanceGuard::CloseRunningInstance(int timeoutMs)
{
    return SendRequest(kClose, timeoutMs);
}

bool CInstanceGuard::SendRequest(quint32 request, int timeoutMs, const QByteArray& data)
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    WriteWords(socket, {kIsZibTamApplication, m_identity.Magic, 0});
    quint32 reply = 0;
    if (!socket.waitForBytesWritten(timeoutMs) || !ReadWord(socket, reply, timeoutMs) ||
        !IsRunningInstanceReply(m_identity, m_mode, reply))
        return false;
    // The request's first word counts the bytes that follow it.
    WriteWords(socket, {request, static_cast<quint32>(data.size()), 0});
    socket.write(data);
    quint32 done = 0;
    return socket.waitForBytesWritten(timeoutMs) && ReadWord(socket, done, timeoutMs);
}

void CInstanceGuard::OnConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->bytesAvailable() >= 12) {
                QDataStream stream(socket->peek(12));
                quint32 message = 0, first = 0, second = 0;
                stream >> message >> first >> second;
                // A show request carries the second start's activation token.
                qint64 data = message == kShowChatWnd ? first : 0;
                if (data > kMaxDataBytes) {
                    socket->disconnectFromServer();
                    return;
                }
                if (socket->bytesAvailable() < 12 + data)
                    return; // the rest is on its way
                socket->skip(12);
                QByteArray bytes = socket->read(data);
                if (message == kIsZibTamApplication) {
                    WriteWords(*socket, {IdentificationReply(m_identity, m_mode, first)});
                } else if (message == kShowChatWnd) {
                    WriteWords(*socket, {1});
                    emit showRequested(QString::fromUtf8(bytes));
                } else if (message == kClose) {
                    WriteWords(*socket, {1});
                    socket->flush();
                    emit closeRequested();
                } else {
                    socket->disconnectFromServer();
                    return;
                }
            }
        });
    }
}
