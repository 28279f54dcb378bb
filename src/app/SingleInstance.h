#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

namespace vtrapp {

// One wizard per home folder: two would file into the same folders and
// spoil each other's copies. The first start holds a lock named after the
// home folder in the runtime folder and listens there; a later start finds
// the lock held and asks the first to bring its window forward.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // `homeFolder` names the instance; lock and socket live in `runtimeFolder`.
    SingleInstance(const QString &homeFolder, const QString &runtimeFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim { Ours, HeldByAnother, Unknown };
    // Takes the lock; Ours: this is the wizard of the home (it then listens
    // for later starts). Unknown: the runtime folder cannot hold the lock, and
    // nothing can be told.
    Claim claim();
    // Tells the running wizard to come forward; true when it answered.
    bool askRunningToComeForward(int timeoutMs = 3000);
    QString lockPath() const { return m_lockPath; }

Q_SIGNALS:
    // Another start asked this wizard to come forward.
    void comeForwardRequested();

private:
    QString m_lockPath;
    QString m_socketPath;
    bool m_abstractSocket = false;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

}  // namespace vtrapp
