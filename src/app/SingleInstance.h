#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vtrapp {

// One wizard at a time: two would file into the same folders and clear each
// other's items from the temporary folder. The first start holds a lock on
// the home folder (the new phone's folder lies in it, whatever the cache
// folder) and one in the cache's folder of ours (where the temporary folder
// lives, whatever the session's runtime folder), and listens there; a later
// start finds a lock held and asks the first to bring its window forward.
// Only a wizard of this user's holding a lock keeps a start out: a home
// folder other users may open can be locked by any of them, and the pid the
// system names for a lock is the one that took it, since ended and reused,
// perhaps, by a process of this user.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // Lock and socket live in `folder`, a folder of ours (made 0700 when
    // missing) in a folder of the person's; `home` is only locked, nothing
    // is made in it.
    SingleInstance(const QString &folder, const QString &home, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim { Ours, HeldByAnother, Unknown };
    // Takes the locks; Ours: this is the wizard (it then listens for later
    // starts). HeldByAnother: a wizard of this user's holds the lock of this
    // home (homeHeld()) or of this folder. Unknown: a lock cannot be taken
    // (the folder is a link or another user's, the home folder is a link or
    // cannot be locked, a lock is held by another user's process, by one
    // that cannot be seen or by none that is a wizard) and nothing can be
    // told; unknownReason() says why.
    Claim claim();
    QString unknownReason() const { return m_unknownReason; }
    // With HeldByAnother: whether it is the home folder's lock that is held;
    // otherwise only the folder's is, by a wizard that may be another home's.
    bool homeHeld() const { return m_homeHeld; }
    // Whether this start holds the lock of `folder`: no other wizard uses
    // the temporary folder there (with Ours, and with Unknown when only the
    // home folder could not be locked).
    bool holdsFolderLock() const { return m_folderLocked; }
    // Tells the wizard listening in `folder` to come forward if it is this
    // home's: CameForward when it did, OtherHome when it runs for another
    // home folder (it stays where it is), NoAnswer otherwise.
    enum class Answer { CameForward, OtherHome, NoAnswer };
    Answer askRunningToComeForward(int timeoutMs = 3000);
    QString folder() const { return m_folder; }
    QString lockPath() const { return m_folder + QStringLiteral("/wizard.lock"); }

Q_SIGNALS:
    // Another start asked this wizard to come forward.
    void comeForwardRequested();

private:
    QString socketPath() const;

    Claim claimHome(QString *why);
    Claim claimFolder(QString *why);
    Claim takeLock(int fd, const QString &what, QString *why);

    QString m_folder;
    QString m_home;
    QString m_unknownReason;
    int m_homeFd = -1;
    int m_folderFd = -1;
    int m_lockFd = -1;
    bool m_folderLocked = false;
    bool m_homeHeld = false;
    // The home folder as a later start names it to the running wizard.
    QByteArray m_homeIdentity;
    QLocalServer *m_server = nullptr;
};

// Who holds the flock that keeps the file of `fd` from being locked, as the
// processes in `proc` (the system's /proc) show them. Wizard: a live process
// of this user, running this program, holds an exclusive lock on the file
// through a descriptor of its own. OtherUser: a process of another user is
// named as its holder. NotWizard: a process of this user is, but holds no
// such lock (the lock is shared, or another program's, or was taken by that
// pid before it was reused). Unseen: no holder can be seen (the lock has gone
// since, or its holder lies in another pid namespace or behind a hidden
// /proc).
struct LockHolder
{
    enum class Who { Wizard, OtherUser, NotWizard, Unseen };
    Who who = Who::Unseen;
    qint64 pid = 0;
    qint64 uid = -1;
};
LockHolder flockHolder(int fd, const QString &proc = QStringLiteral("/proc"));

}  // namespace vtrapp
