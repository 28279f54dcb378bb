#include "app/SingleInstance.h"

#include "foundation/Log.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vtrapp {
namespace {
// A later start names its home folder ("come-forward DEV:INODE"): only the
// wizard of that home comes forward; one of another home sharing the cache
// folder answers so and stays where it is.
constexpr char kComeForward[] = "come-forward ";
constexpr char kComing[] = "ok\n";
constexpr char kOtherHome[] = "other-home\n";

// The home folder's device and inode, the same however it is named (a link
// to it files into the same new phone's folder); empty when it cannot be
// looked at.
QByteArray homeIdentity(const QString &home)
{
    const QByteArray path = QFile::encodeName(home);
    struct stat st;
    if (path.isEmpty() || path.contains('\0') || ::stat(path.constData(), &st) != 0) return {};
    return QByteArray::number(quint64(st.st_dev), 16) + ':' + QByteArray::number(quint64(st.st_ino), 16);
}

bool isIdentity(const QByteArray &text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0 || colon + 1 == text.size() || text.size() > 40) return false;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i != colon && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// The lines of a file of /proc that start with `name`, without it.
QList<QByteArray> procFields(const QString &path, const QByteArray &name, bool firstOnly = false)
{
    QList<QByteArray> fields;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fields;
    // A file of /proc has no size: it ends where a read answers nothing.
    for (QByteArray line; !(line = file.readLine(4096)).isEmpty();) {
        if (!line.startsWith(name)) continue;
        fields.append(line.mid(name.size()).trimmed());
        if (firstOnly) break;
    }
    return fields;
}

// One line of a file of /proc, or nothing when it lacks it.
QByteArray procField(const QString &path, const QByteArray &name)
{
    return procFields(path, name, true).value(0);
}

// The file of `fd` as the kernel names it in its lists of locks: the device
// of its file system (which stat does not always give: a btrfs subvolume
// answers one of its own) and the inode.
struct LockKey
{
    unsigned major = 0, minor = 0;
    quint64 inode = 0;
    bool operator==(const LockKey &) const = default;
};

bool lockKey(int fd, const QString &proc, LockKey *key)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    key->major = ::major(st.st_dev);
    key->minor = ::minor(st.st_dev);
    key->inode = quint64(st.st_ino);
    const QString fdinfo = proc + QStringLiteral("/self/fdinfo/%1").arg(fd);
    bool ok = false;
    const quint64 inode = procField(fdinfo, "ino:").toULongLong(&ok);
    if (ok) key->inode = inode;
    const QByteArray mount = procField(fdinfo, "mnt_id:");
    if (mount.isEmpty()) return true;
    // "ID PARENT MAJOR:MINOR ..."
    QFile mounts(proc + QStringLiteral("/self/mountinfo"));
    if (!mounts.open(QIODevice::ReadOnly)) return true;
    for (QByteArray line; !(line = mounts.readLine()).isEmpty();) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields[0] != mount) continue;
        const QList<QByteArray> device = fields[2].split(':');
        bool majorOk = false, minorOk = false;
        const unsigned major = device.value(0).toUInt(&majorOk), minor = device.value(1).toUInt(&minorOk);
        if (device.size() == 2 && majorOk && minorOk) {
            key->major = major;
            key->minor = minor;
        }
        break;
    }
    return true;
}

// A flock as /proc/locks and a descriptor's fdinfo list it: "1: FLOCK
// ADVISORY WRITE PID MAJOR:MINOR:INODE START END". A waiter has "->" after
// the number and holds nothing.
struct FlockLine
{
    bool exclusive = false;
    qint64 pid = 0;
    LockKey file;
};

bool flockLine(const QByteArray &line, FlockLine *lock)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 6 || fields[1] != "FLOCK") return false;
    const QList<QByteArray> file = fields[5].split(':');
    bool ok[4] = {};
    lock->exclusive = fields[3] == "WRITE";
    lock->pid = fields[4].toLongLong(&ok[0]);
    if (file.size() != 3) return false;
    lock->file.major = file[0].toUInt(&ok[1], 16);
    lock->file.minor = file[1].toUInt(&ok[2], 16);
    lock->file.inode = file[2].toULongLong(&ok[3]);
    return ok[0] && ok[1] && ok[2] && ok[3];
}

// The program a process runs: its file, and the name it was started by (a
// program replaced on disk since, as an update does, keeps its name with
// " (deleted)" after it). False when it cannot be seen.
struct Program
{
    dev_t device = 0;
    ino_t inode = 0;
    QByteArray path;
};

bool programOf(const QString &process, Program *program)
{
    const QByteArray exe = QFile::encodeName(process + QStringLiteral("/exe"));
    struct stat st;
    char target[4096];
    const ssize_t length = ::readlink(exe.constData(), target, sizeof target);
    if (::stat(exe.constData(), &st) != 0 || length <= 0 || size_t(length) == sizeof target) return false;
    program->device = st.st_dev;
    program->inode = st.st_ino;
    program->path = QByteArray(target, length);
    if (program->path.endsWith(" (deleted)")) program->path.chop(qsizetype(sizeof " (deleted)") - 1);
    return true;
}

// Whether `process` holds an exclusive flock on `file` through a
// descriptor of its own: the pid the system names for a lock is the one
// that took it, which may have handed the descriptor on or ended since
// (its pid then reused by a process that holds nothing).
enum class Holds { Yes, No, Unseen };

Holds holdsOwnLock(const QString &process, const LockKey &file)
{
    const QByteArray folder = QFile::encodeName(process + QStringLiteral("/fdinfo"));
    DIR *descriptors = ::opendir(folder.constData());
    if (!descriptors) return Holds::Unseen;
    Holds holds = Holds::No;
    while (const dirent *entry = ::readdir(descriptors)) {
        if (entry->d_name[0] == '.') continue;
        const QString fdinfo = process + QStringLiteral("/fdinfo/") + QString::fromLatin1(entry->d_name);
        for (const QByteArray &line : procFields(fdinfo, "lock:")) {
            FlockLine lock;
            if (flockLine(line, &lock) && lock.exclusive && lock.file == file) holds = Holds::Yes;
        }
        if (holds == Holds::Yes) break;
    }
    ::closedir(descriptors);
    return holds;
}

// The effective user of `process`, or -1 when it cannot be seen.
// "Uid: REAL EFFECTIVE SAVED FILESYSTEM". Not the owner of /proc/PID: that
// is root's for a process that changed its user.
qint64 userOf(const QString &process)
{
    const QList<QByteArray> uids = procField(process + QStringLiteral("/status"), "Uid:").simplified().split(' ');
    bool ok = false;
    const qint64 uid = uids.size() >= 2 ? uids[1].toLongLong(&ok) : -1;
    return ok ? uid : -1;
}

// What one lock line's holder is.
LockHolder judge(const QString &proc, const FlockLine &lock)
{
    LockHolder holder;
    // Pid 0: the holder lies in a pid namespace this one cannot see.
    if (lock.pid <= 0) return holder;
    const QString process = proc + QLatin1Char('/') + QString::number(lock.pid);
    const qint64 uid = userOf(process);
    if (uid < 0) return holder;
    holder.pid = lock.pid;
    holder.uid = uid;
    if (uid != qint64(::geteuid())) {
        holder.who = LockHolder::Who::OtherUser;
        return holder;
    }
    // A wizard only ever takes its lock whole.
    holder.who = LockHolder::Who::NotWizard;
    if (!lock.exclusive) return holder;
    Program ours, theirs;
    if (!programOf(proc + QStringLiteral("/self"), &ours) || !programOf(process, &theirs)) {
        holder.who = LockHolder::Who::Unseen;
        return holder;
    }
    if ((ours.device != theirs.device || ours.inode != theirs.inode) && ours.path != theirs.path) return holder;
    const Holds holds = holdsOwnLock(process, lock.file);
    if (holds == Holds::Yes) holder.who = LockHolder::Who::Wizard;
    if (holds == Holds::Unseen) holder.who = LockHolder::Who::Unseen;
    return holder;
}
}  // namespace

LockHolder flockHolder(int fd, const QString &proc)
{
    LockHolder holder;
    LockKey key;
    QFile locks(proc + QStringLiteral("/locks"));
    if (!lockKey(fd, proc, &key) || !locks.open(QIODevice::ReadOnly)) return holder;
    for (QByteArray line; !(line = locks.readLine(4096)).isEmpty();) {
        FlockLine lock;
        if (!flockLine(line, &lock) || lock.file != key) continue;
        // Once one holder is known, shared locks (there may be thousands,
        // none a wizard's) are not looked at further.
        if (holder.who != LockHolder::Who::Unseen && !lock.exclusive) continue;
        const LockHolder seen = judge(proc, lock);
        if (seen.who == LockHolder::Who::Wizard) return seen;
        if (seen.who != LockHolder::Who::Unseen && holder.who == LockHolder::Who::Unseen) holder = seen;
    }
    return holder;
}

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
    if (m_homeIdentity.isEmpty()) m_homeIdentity = homeIdentity(m_home);
    QString homeWhy;
    const Claim home = claimHome(&homeWhy);
    m_homeHeld = home == Claim::HeldByAnother;
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
// place is not followed: whoever may change the link would choose what is
// locked.
SingleInstance::Claim SingleInstance::claimHome(QString *why)
{
    const QByteArray path = QFile::encodeName(m_home);
    const QString what = QStringLiteral("The home folder %1").arg(m_home);
    if (m_homeFd < 0) {
        if (path.isEmpty() || path.contains('\0')) {
            *why = QStringLiteral("No home folder can be locked.");
            return Claim::Unknown;
        }
        m_homeFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_homeFd < 0) {
            const int error = errno;
            struct stat st;
            const QString reason = ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)
                                       ? QStringLiteral("it is a link")
                                       : QString::fromLocal8Bit(std::strerror(error));
            *why = QStringLiteral("%1 cannot be locked (%2).").arg(what, reason);
            return Claim::Unknown;
        }
    }
    return takeLock(m_homeFd, what, why);
}

// Only a wizard of this user's keeps a start out. A lock held by another
// user's process (the home folder may be open to every user), by one that
// cannot be seen, or by none that is a wizard holding it is said and keeps
// nobody out, though nothing can be told from it.
SingleInstance::Claim SingleInstance::takeLock(int fd, const QString &what, QString *why)
{
    // The holder may let go between the attempt and the look at it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Claim::Ours;
        if (errno != EWOULDBLOCK) {
            *why = QStringLiteral("%1 cannot be locked (%2).").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
            return Claim::Unknown;
        }
        const LockHolder holder = flockHolder(fd);
        switch (holder.who) {
        case LockHolder::Who::Wizard:
            return Claim::HeldByAnother;
        case LockHolder::Who::OtherUser:
            *why = QStringLiteral("%1 is locked by a process of another user (process %2, user %3): not a wizard "
                                  "of this user's, so it keeps no start out.")
                       .arg(what)
                       .arg(holder.pid)
                       .arg(holder.uid);
            return Claim::Unknown;
        case LockHolder::Who::NotWizard:
            *why = QStringLiteral("%1 is locked, but process %2, named as its holder, holds no wizard's lock on it: "
                                  "it keeps no start out.")
                       .arg(what)
                       .arg(holder.pid);
            return Claim::Unknown;
        case LockHolder::Who::Unseen:
            break;
        }
    }
    *why = QStringLiteral("%1 is locked by a process that cannot be seen: not a wizard of this user's, so it keeps "
                          "no start out.")
               .arg(what);
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
    if (const Claim claim = takeLock(m_lockFd, lockPath(), why); claim != Claim::Ours) return claim;
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
                const qsizetype prefix = qsizetype(sizeof kComeForward) - 1;
                const bool asked = line.startsWith(kComeForward) && line.endsWith('\n');
                const QByteArray identity = asked ? line.sliced(prefix, line.size() - prefix - 1) : QByteArray();
                if (asked && isIdentity(identity)) {
                    const bool ours = identity == m_homeIdentity;
                    socket->write(ours ? kComing : kOtherHome);
                    socket->flush();
                    if (ours) Q_EMIT comeForwardRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return Claim::Ours;
}

SingleInstance::Answer SingleInstance::askRunningToComeForward(int timeoutMs)
{
    if (m_homeIdentity.isEmpty()) m_homeIdentity = homeIdentity(m_home);
    // A start that cannot name its home cannot tell whose the wizard is.
    if (m_folderFd < 0 || m_homeIdentity.isEmpty()) return Answer::NoAnswer;
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs)) return Answer::NoAnswer;
    socket.write(kComeForward + m_homeIdentity + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) return Answer::NoAnswer;
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(timeoutMs)) return Answer::NoAnswer;
    const QByteArray answer = socket.readLine(64);
    return answer == kComing ? Answer::CameForward : answer == kOtherHome ? Answer::OtherHome : Answer::NoAnswer;
}

}  // namespace vtrapp
