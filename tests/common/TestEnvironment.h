#pragma once

#include <QString>

#include <functional>

// Every test process runs with its own HOME and XDG folders below a fresh
// temporary folder, so no test touches the real home or another test's state.
namespace testenv {

// Root of this process's private folder tree (removed at exit).
QString root();

// A new empty folder below root(), for one test's files.
QString makeTempDir(const QString &hint = QStringLiteral("t"));

// Writes bytes to a file, creating parent folders; fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Runs the event loop until `done` answers true or `timeoutMs` has passed;
// answers done().
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);

}  // namespace testenv
