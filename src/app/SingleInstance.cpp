#include "app/SingleInstance.h"

#include "foundation/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace vtrapp {
namespace {
constexpr qsizetype kMaxSocketPath = 100;
constexpr char kComeForward[] = "come-forward\n";
constexpr char kComing[] = "ok\n";
}  // namespace

SingleInstance::SingleInstance(const QString &homeFolder, const QString &runtimeFolder, QObject *parent)
    : QObject(parent)
{
    // The same home reached through another spelling or a link is the same.
    const QString canonical = QFileInfo(homeFolder).canonicalFilePath();
    const QString home = canonical.isEmpty() ? QDir::cleanPath(QDir(homeFolder).absolutePath()) : canonical;
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(home.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QDir runtime(runtimeFolder);
    m_lockPath = runtime.filePath(QStringLiteral("solvenna-to-windows-phone-%1.lock").arg(key));
    m_socketPath = runtime.filePath(QStringLiteral("solvenna-to-windows-phone-%1.socket").arg(key));
    // A socket's path holds at most 107 bytes: in a deep runtime folder the
    // socket gets a name of its own kernel namespace instead, made for this
    // user (the lock stays in the runtime folder).
    if (QFile::encodeName(m_socketPath).size() > kMaxSocketPath) {
        m_socketPath = QStringLiteral("solvenna-to-windows-phone-%1-%2").arg(getuid()).arg(key);
        m_abstractSocket = true;
    }
}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close();
    // The lock goes with its object.
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_lock) return Claim::Ours;
    auto lock = std::make_unique<QLockFile>(m_lockPath);
    // A lock left by a wizard that died is taken over (its process is gone).
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) return Claim::HeldByAnother;
        VTR_LOG(2, QStringLiteral("Whether the wizard already runs cannot be told: %1 cannot be locked.").arg(m_lockPath));
        return Claim::Unknown;
    }
    m_lock = std::move(lock);
    // The lock is ours: a socket left behind is stale.
    if (!m_abstractSocket) QLocalServer::removeServer(m_socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(m_abstractSocket ? QLocalServer::AbstractNamespaceOption
                                                : QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        VTR_LOG(2, QStringLiteral("Later starts cannot reach this wizard: %1").arg(m_server->errorString()));
        return Claim::Ours;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                const QByteArray line = socket->readLine(64);
                if (line == kComeForward) {
                    socket->write(kComing);
                    socket->flush();
                    Q_EMIT comeForwardRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return Claim::Ours;
}

bool SingleInstance::askRunningToComeForward(int timeoutMs)
{
    QLocalSocket socket;
    if (m_abstractSocket) socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kComeForward);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.readLine(64) == kComing;
}

}  // namespace vtrapp
