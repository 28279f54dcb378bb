#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vtrapp {

// One wizard at a time: two would file into the same folders and clear each
// other's items from the temporary folder. The first start holds a lock in
// the cache's folder of ours (where the temporary folder lives, whatever the
// session's runtime folder) and listens there; a later start finds the lock
// held and asks the first to bring its window forward.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // Lock and socket live in `folder`, a folder of ours (made 0700 when
    // missing) in a folder of the person's.
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim { Ours, HeldByAnother, Unknown };
    // Takes the lock; Ours: this is the wizard (it then listens for later
    // starts). Unknown: the folder is not safe (a link, another user's) or
    // cannot hold the lock, and nothing can be told; unknownReason() says why.
    Claim claim();
    QString unknownReason() const { return m_unknownReason; }
    // Tells the running wizard to come forward; true when it answered.
    bool askRunningToComeForward(int timeoutMs = 3000);
    QString lockPath() const { return m_folder + QStringLiteral("/wizard.lock"); }

Q_SIGNALS:
    // Another start asked this wizard to come forward.
    void comeForwardRequested();

private:
    QString socketPath() const;

    QString m_folder;
    QString m_unknownReason;
    int m_folderFd = -1;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
};

}  // namespace vtrapp
