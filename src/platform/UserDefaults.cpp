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

// The settings file keeps booleans and numbers as bare text, which reads back
// as a string in the next run ("true" is then no YES, 42 no number). Their
// type name is kept beside them, under this group and the same key.
const QString kTypeGroup = QStringLiteral("TypesOfValues/");

bool losesItsType(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

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
    if (!s.contains(key)) return g_registered.value(key);
    QVariant stored = s.value(key);
    if (stored.typeId() == QMetaType::QString) {
        const QMetaType type = QMetaType::fromName(s.value(kTypeGroup + key).toString().toLatin1());
        QVariant typed = stored;
        if (type.isValid() && losesItsType(QVariant(type)) && typed.convert(type)) return typed;
    }
    return stored;
}

void UserDefaults::setValue(const QString &key, const QVariant &value)
{
    QMutexLocker l(&g_lock);
    QSettings &s = store();
    s.setValue(key, value);
    if (losesItsType(value))
        s.setValue(kTypeGroup + key, QString::fromLatin1(value.metaType().name()));
    else
        s.remove(kTypeGroup + key);
}

void UserDefaults::remove(const QString &key)
{
    QMutexLocker l(&g_lock);
    store().remove(key);
    store().remove(kTypeGroup + key);
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
