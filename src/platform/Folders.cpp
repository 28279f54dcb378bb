#include "Folders.h"

#include "VtrException.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QMutex g_lock;
QString g_home, g_data, g_state, g_temp;

QString xdg(const char *var, const char *fallbackBelowHome)
{
    QString v = qEnvironmentVariable(var);
    if (v.isEmpty() || !QDir::isAbsolutePath(v)) v = homeFolder() + QLatin1Char('/') + QLatin1String(fallbackBelowHome);
    return QDir::cleanPath(v);
}

QString overridden(const QString &value)
{
    QMutexLocker l(&g_lock);
    return value;
}

}  // namespace

QString homeFolder()
{
    QString o = overridden(g_home);
    if (!o.isEmpty()) return o;
    QString h = qEnvironmentVariable("HOME");
    return h.isEmpty() ? QDir::homePath() : QDir::cleanPath(h);
}

QString dataFolder()
{
    QString o = overridden(g_data);
    if (!o.isEmpty()) return o;
    return xdg("XDG_DATA_HOME", ".local/share") + QLatin1Char('/') + QLatin1String(kAppFolderName);
}

QString stateFolder()
{
    QString o = overridden(g_state);
    if (!o.isEmpty()) return o;
    return xdg("XDG_STATE_HOME", ".local/state") + QLatin1Char('/') + QLatin1String(kAppFolderName);
}

QString temporaryFolder()
{
    QString path = overridden(g_temp);
    if (path.isEmpty())
        path = xdg("XDG_CACHE_HOME", ".cache") + QLatin1Char('/') + QLatin1String(kAppFolderName) +
               QStringLiteral("/tmp");
    QString error;
    if (!ensurePrivateFolder(path, &error))
        throw VtrException(QStringLiteral("TemporaryFolderException"), error);
    return path;
}

void setHomeFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_home = path; }
void setDataFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_data = path; }
void setStateFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_state = path; }
void setTemporaryFolderOverride(const QString &path) { QMutexLocker l(&g_lock); g_temp = path; }

bool ensurePrivateFolder(const QString &path, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error) *error = why;
        return false;
    };
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0) {
        if (errno != ENOENT)
            return fail(QStringLiteral("Cannot inspect %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
            return fail(QStringLiteral("Cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (::lstat(p.constData(), &st) != 0)
            return fail(QStringLiteral("Cannot inspect %1").arg(path));
    }
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
        return fail(QStringLiteral("%1 is not a folder").arg(path));
    if (st.st_uid != ::geteuid())
        return fail(QStringLiteral("%1 belongs to another user").arg(path));
    if ((st.st_mode & 0777) != 0700 && ::chmod(p.constData(), 0700) != 0)
        return fail(QStringLiteral("Cannot protect %1").arg(path));
    return true;
}

}  // namespace platform
