#include "app/SingleInstance.h"

#include "foundation/Log.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vtrapp {
namespace {
constexpr char kComeForward[] = "come-forward\n";
constexpr char kComing[] = "ok\n";
}  // namespace

SingleInstance::SingleInstance(const QString &folder, const QString &home, QObject *parent)
    : QObject(parent), m_folder(QDir::cleanPath(folder)), m_home(home)
{
}

SingleInstance::~SingleInstance()
{
    // The socket goes before the lock: a start that takes the lock next
    // must not lose the socket it makes to this one's removal.
    if (m_server) m_server->close();
    delete m_server;
    if (m_lockFd >= 0) ::close(m_lockFd);
    if (m_folderFd >= 0) ::close(m_folderFd);
    if (m_homeFd >= 0) ::close(m_homeFd);
}

// The socket is reached through the folder's descriptor: no link put in
// the folder's place is followed, and the path stays short however deep
// the folder lies.
QString SingleInstance::socketPath() const
{
    return QStringLiteral("/proc/self/fd/%1/wizard.socket").arg(m_folderFd);
}

SingleInstance::Claim SingleInstance::claim()
{
    QString homeWhy;
    const Claim home = claimHome(&homeWhy);
    // Opened even when the home is taken: a wizard of this cache folder
    // listens there.
    QString folderWhy;
    if (m_folderFd < 0) m_folderFd = platform::openOwnFolder(m_folder, true, &folderWhy);
    if (home == Claim::HeldByAnother) return Claim::HeldByAnother;
    const Claim folder = m_folderFd < 0 ? Claim::Unknown : claimFolder(&folderWhy);
    if (folder == Claim::HeldByAnother) return Claim::HeldByAnother;
    m_unknownReason = homeWhy.isEmpty() || folderWhy.isEmpty() ? homeWhy + folderWhy : homeWhy + QLatin1Char(' ') + folderWhy;
    return home == Claim::Ours && folder == Claim::Ours ? Claim::Ours : Claim::Unknown;
}

// The home folder holds the new phone's folder whatever the cache folder
// is: it is opened and locked, and nothing is made in it. A link in its
// place is followed, as the new phone's folder is made where it leads.
SingleInstance::Claim SingleInstance::claimHome(QString *why)
{
    const QByteArray path = QFile::encodeName(m_home);
    if (m_homeFd < 0) {
        if (path.isEmpty() || path.contains('\0')) {
            *why = QStringLiteral("No home folder can be locked.");
            return Claim::Unknown;
        }
        m_homeFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (m_homeFd >= 0 && ::flock(m_homeFd, LOCK_EX | LOCK_NB) == 0) return Claim::Ours;
    if (m_homeFd >= 0 && errno == EWOULDBLOCK) return Claim::HeldByAnother;
    *why = QStringLiteral("The home folder %1 cannot be locked (%2).").arg(m_home, QString::fromLocal8Bit(std::strerror(errno)));
    return Claim::Unknown;
}

SingleInstance::Claim SingleInstance::claimFolder(QString *why)
{
    if (m_lockFd < 0) {
        const int fd = ::openat(m_folderFd, "wizard.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            const QString reason = fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("not a file of this user");
            if (fd >= 0) ::close(fd);
            *why = QStringLiteral("%1 cannot be locked (%2).").arg(lockPath(), reason);
            return Claim::Unknown;
        }
        m_lockFd = fd;
    }
    // The kernel lets a lock go with the process that held it, however it
    // ended: one left by a wizard that died keeps nobody out.
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return Claim::HeldByAnother;
        *why = QStringLiteral("%1 cannot be locked (%2).").arg(lockPath(), QString::fromLocal8Bit(std::strerror(errno)));
        return Claim::Unknown;
    }
    m_folderLocked = true;
    if (m_server) return Claim::Ours;
    // The lock is ours: a socket left behind is stale.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    if (!m_server->listen(socketPath())) {
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
    if (m_folderFd < 0) return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kComeForward);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.readLine(64) == kComing;
}

}  // namespace vtrapp
