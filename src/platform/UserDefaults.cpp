#include "UserDefaults.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSettings>

#include <memory>

namespace platform {
namespace {

QMutex g_lock;
QVariantMap g_registered;
QString g_testFile;
std::unique_ptr<QSettings> g_settings;

QSettings &store()
{
    if (!g_settings) {
        if (g_testFile.isEmpty())
            g_settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                     QStringLiteral("vantrel"),
                                                     QStringLiteral("solvennawindowsphone"));
        else
            g_settings = std::make_unique<QSettings>(g_testFile, QSettings::IniFormat);
    }
    return *g_settings;
}

}  // namespace

QVariant UserDefaults::value(const QString &key)
{
    QMutexLocker l(&g_lock);
    QSettings &s = store();
    if (s.contains(key)) return s.value(key);
    return g_registered.value(key);
}

void UserDefaults::setValue(const QString &key, const QVariant &value)
{
    QMutexLocker l(&g_lock);
    store().setValue(key, value);
}

void UserDefaults::remove(const QString &key)
{
    QMutexLocker l(&g_lock);
    store().remove(key);
}

bool UserDefaults::contains(const QString &key)
{
    QMutexLocker l(&g_lock);
    return store().contains(key) || g_registered.contains(key);
}

void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QMutexLocker l(&g_lock);
    for (auto it = defaults.begin(); it != defaults.end(); ++it) g_registered.insert(it.key(), it.value());
}

void UserDefaults::synchronize()
{
    QMutexLocker l(&g_lock);
    store().sync();
}

void UserDefaults::setStoreFileForTesting(const QString &iniPath)
{
    QMutexLocker l(&g_lock);
    if (g_settings) g_settings->sync();
    g_settings.reset();
    g_registered.clear();
    g_testFile = iniPath;
}

}  // namespace platform
