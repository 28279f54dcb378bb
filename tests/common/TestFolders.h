#pragma once

#include <QString>

#include <string>

#include <sys/types.h>

// Folders of the tests' own outside their private tree, and the removal of
// what a test made, so that no other user of the computer can steer either.
namespace testenv {

// Removes `path` with all it holds, by descriptor: a link, at the top or
// below it, is removed as a link and never followed, and a folder swapped
// for something else while it is emptied is left. Answers whether nothing is
// left at `path` (nothing there to begin with counts).
bool removeTree(const QString &path);

// A new folder of this process's user alone (mode 0700) in `shared`, a folder
// every user may write to (/dev/shm as a second file system, /tmp), named by
// mkdtemp so that no other user can foresee its name nor have put anything
// there: whatever stands at any other name stays untouched. It goes with all
// it holds when the scope is left, as removeTree() removes, and only while
// its name is still this very folder.
class SharedTempFolder
{
public:
    explicit SharedTempFolder(const QString &shared, const QString &stem = QStringLiteral("vtrtest"));
    ~SharedTempFolder();
    SharedTempFolder(const SharedTempFolder &) = delete;
    SharedTempFolder &operator=(const SharedTempFolder &) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    // Why it could not be made.
    std::string error() const { return m_error.toStdString(); }

private:
    QString m_path;
    QString m_error;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

}  // namespace testenv
