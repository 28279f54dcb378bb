#include "Strings.h"

#include <QHash>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QWriteLocker>

namespace {
QReadWriteLock g_lock;
QHash<QString, QString> g_table;
}

QString vtrLocalized(const QString &key)
{
    QReadLocker l(&g_lock);
    auto it = g_table.constFind(key);
    return it == g_table.constEnd() ? key : it.value();
}

QString vtrLocalized(const char *key)
{
    return vtrLocalized(QString::fromUtf8(key));
}

namespace platform {
void setStringTable(const QHash<QString, QString> &table)
{
    QWriteLocker l(&g_lock);
    g_table = table;
}
}  // namespace platform
