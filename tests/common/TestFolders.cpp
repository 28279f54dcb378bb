#include "TestFolders.h"

#include "platform/Descriptor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testenv {

using platform::Descriptor;

namespace {

// Trees the tests make are shallow; the walk stays bounded whatever one holds.
constexpr int kMaxDepth = 256;

QList<QByteArray> namesIn(int folder)
{
    QList<QByteArray> names;
    const int listed = ::dup(folder);
    DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) ::close(listed);
        return names;
    }
    while (const dirent *entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    ::closedir(dir);
    return names;
}

// Removes `name` in the folder `at`; a folder is entered only as the very
// folder that was looked at, never through a link.
bool removeAt(int at, const QByteArray &name, int depth)
{
    struct stat st;
    if (::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(at, name.constData(), 0) == 0 || errno == ENOENT;
    if (depth >= kMaxDepth) return false;
    const Descriptor folder(::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened;
    if (!folder.isOpen() || ::fstat(folder.get(), &opened) != 0 || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino)
        return false;
    for (const QByteArray &entry : namesIn(folder.get())) removeAt(folder.get(), entry, depth + 1);
    return ::unlinkat(at, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

}  // namespace

bool removeTree(const QString &path)
{
    const QFileInfo info(QDir::cleanPath(path));
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty() || name == "." || name == "..") return false;
    // The folder it is in is the one the test names, links and all.
    const Descriptor parent(::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isOpen()) return errno == ENOENT;
    return removeAt(parent.get(), name, 0);
}

SharedTempFolder::SharedTempFolder(const QString &shared, const QString &stem)
{
    QByteArray name = QFile::encodeName(shared + QLatin1Char('/') + stem + QStringLiteral("-XXXXXX"));
    struct stat st;
    if (!::mkdtemp(name.data()) || ::lstat(name.constData(), &st) != 0) {
        m_error = QStringLiteral("no folder of its own could be made in %1: %2")
                      .arg(shared, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_path = QFile::decodeName(name);
    m_device = st.st_dev;
    m_inode = st.st_ino;
}

SharedTempFolder::~SharedTempFolder()
{
    struct stat st;
    if (isValid() && ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_dev == m_device && st.st_ino == m_inode)
        removeTree(m_path);
}

}  // namespace testenv
