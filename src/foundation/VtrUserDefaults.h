#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// Named preferences domains in the user defaults (platform::UserDefaults).
// A domain is a dictionary of keys to values stored and replaced as a whole
// under its name; the GUID operations keep one dictionary per GUID inside a
// domain. When the domain is the application's own identifier (ignoring
// case) the application's own keys are used instead. A null or empty domain
// or key makes a read answer an invalid QVariant and a write do nothing.
// Every write and removal synchronises the store.
namespace vtr {

// The application's identifier (its domain name): "com.vantrel.solvennawindowsphone".
QString mainBundleIdentifier();

// The whole stored domain; an invalid QVariant when it does not exist.
QVariant persistentDomainForName(const QString &domain);

QVariant objectForKeyWithBundle(const QString &key, const QString &domain, const QString &bundleIdentifier);
QVariant objectForKey(const QString &key, const QString &domain);
void setObjectWithBundle(const QVariant &value, const QString &key, const QString &domain,
                         const QString &bundleIdentifier);
void setObject(const QVariant &value, const QString &key, const QString &domain);
// Removing the last key of a domain deletes the domain.
void removeObjectForKeyWithBundle(const QString &key, const QString &domain, const QString &bundleIdentifier);
void removeObjectForKey(const QString &key, const QString &domain);

// No value: false; a string: true only for "YES" ignoring case; a boolean or
// number: its value != 0; anything else: false.
bool boolValueOfDefault(const QVariant &value);
bool boolForKey(const QString &key, const QString &domain);
void setBool(bool value, const QString &key, const QString &domain);

// A null or empty GUID gives the plain domain operations above.
QVariant objectForKeyForGUID(const QString &key, const QString &domain, const QString &guid);
void setObjectForGUID(const QVariant &value, const QString &key, const QString &domain, const QString &guid);
// An emptied GUID dictionary stays in the domain.
void removeObjectForKeyForGUID(const QString &key, const QString &domain, const QString &guid);
void removeAllKeysForGUID(const QString &guid, const QString &domain);
void setBoolForGUID(bool value, const QString &key, const QString &domain, const QString &guid);
bool boolForKeyForGUID(const QString &key, const QString &domain, const QString &guid);

} // namespace vtr
