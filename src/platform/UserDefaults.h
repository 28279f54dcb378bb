#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The user defaults: QSettings in its native format for organisation
// "vantrel", application "solvennawindowsphone". Registered defaults live in
// memory only and answer where nothing is stored, as on the Mac. Values read
// back with their type in a later run (booleans and numbers too). All calls
// are thread-safe.
namespace platform {

class UserDefaults
{
public:
    static QVariant value(const QString &key);
    static void setValue(const QString &key, const QVariant &value);
    static void remove(const QString &key);
    static bool contains(const QString &key);
    static void registerDefaults(const QVariantMap &defaults);
    static void synchronize();

    // Tests point the store at their own file; empty restores the default store.
    static void setStoreFileForTesting(const QString &iniPath);
};

}  // namespace platform
