#pragma once

#include <QString>
#include <QUrl>

// The web services' hosts are user defaults, so that a person or a test can
// point them elsewhere. A setting is a host name with an optional ":port".
// Requests go over https; plain http is used only for a loopback host, which
// only tests configure.
namespace vtronline {

// The user default `key` when it holds a text, else `fallback`.
QString hostSetting(const QString &key, const QString &fallback);

// True for "localhost", 127.0.0.0/8 and ::1.
bool isLoopbackHost(const QString &host);

// "https://<host>" (or "http://" for loopback) with `path` (decoded form);
// an invalid URL when the setting is not a plain host with an optional port.
QUrl serviceUrl(const QString &hostSetting, const QString &path);

}  // namespace vtronline
