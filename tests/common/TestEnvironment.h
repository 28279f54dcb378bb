#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

#include <sys/types.h>

// Every test runs with its own HOME and XDG folders below its process's fresh
// temporary folder, so no test touches the real home or another test's state.
namespace testenv {

// Root of this process's private folder tree (removed at exit).
QString root();

// A new empty folder below root(), for one test's files.
QString makeTempDir(const QString &hint = QStringLiteral("t"));

// Writes bytes to a file, creating parent folders; fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Runs the event loop until `done` answers true or `timeoutMs` (a generous
// guard for a loaded machine) has passed; answers done().
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 60000);

// Makes `path` the current folder until the scope is left, however the test
// leaves it (a failed ASSERT returns at once).
class CurrentFolder
{
public:
    explicit CurrentFolder(const QString &path);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder &) = delete;
    CurrentFolder &operator=(const CurrentFolder &) = delete;

private:
    QString m_before;
};

// Takes rights away from files and folders a test made, and gives each back
// the mode it had when the guard is left, however the test leaves it (a
// failed ASSERT returns at once): a folder left without them cannot be
// removed by an ordinary user, and stays behind in the temporary folder. A
// test that ends with a folder of its own its owner may not list, enter or
// change fails (the folder is given back the rights all the same).
class TakenModes
{
public:
    TakenModes() = default;
    ~TakenModes();
    TakenModes(const TakenModes &) = delete;
    TakenModes &operator=(const TakenModes &) = delete;

    // Notes the mode `path` has, then gives it `mode`; answers whether it
    // could. Safe from any thread (a callback of the code under test).
    bool take(const QString &path, mode_t mode);

private:
    QMutex m_lock;
    QList<std::pair<QByteArray, mode_t>> m_taken;
};

// Permission faults mean nothing to root, which may read and write anything.
// For a test that needs them: Here when this process is not root (the test
// runs on); otherwise the test is run again, alone, in a child process of
// this program as the unprivileged user 65534, in a private folder tree of
// that user, and its outcome is reported here: Done (the caller returns), or
// Unavailable with the reason in `why`. The child holds nothing of root's:
// only its standard input and output (a file of its own, read back here and
// shown with each line marked as the run's and its control characters
// escaped, so that none of it passes for a line of root's), as its one
// channel to root a pipe that it alone writes its outcome to, no group, a
// session (with no terminal) and a session keyring of its own, and of this
// process's environment only what the tests read and the variables `handed`
// names; it runs without the leak check. No other process of that user may
// attach to it, nor to a program it starts: each is a copy that user may
// start but not read. A checkout in a folder only root may enter is out of
// that user's reach: before the child starts, root stages for it the tests'
// own files and the shared data to read, and the project's programs the
// tests start, the programs `programs` names and this test program to start,
// each reached from "/" without a link and through folders root's alone,
// where that user alone may have them. Where that cannot be done (a link on
// the way, another user's file, a temporary folder another user has filled)
// the test fails, saying why: a test that did not run has shown nothing. It
// is Unavailable only where the system cannot keep the run to itself (any
// process of a user may attach to the others at fs.suid_dumpable 1; a
// temporary folder that keeps no access lists cannot shut other users out),
// and where the run itself skipped the test. What the child leaves in its
// folders goes when it has ended.
enum class Unprivileged { Here, Done, Unavailable };
Unprivileged runUnprivileged(QString *why, const QStringList &handed = {}, const QStringList &programs = {});

// A file or folder of the project that tests read or start (below tests/,
// the shared data beside the project, a program of the project) as this
// process can read or start it: `path` itself, or, run as the unprivileged
// user, the copy root staged for it wherever there is one (a folder with
// everything in it, links copied as links), whatever that user may do with
// `path`: a program is started from its copy alone.
QString reachable(const QString &path);
// A file or folder of the tests' own, by its path below tests/
// (e.g. "devices/data/mtp/android_phone.json"), through reachable().
QString sourcePath(const QString &relative);
// This test program, to start it again, through reachable().
QString program();

// The real-world samples live beside the project (../shared/data/samples), not
// in it: a clone on its own has none. Answers the full path of `relative` below
// the samples folder (through reachable()); when it is missing, `why` says what is missing, and
// samplesRequired() tells whether that is a failure (CI sets
// VTR_REQUIRE_SAMPLES=1) or the test is skipped.
QString samplePath(const QString &relative, QString *why);
bool samplesRequired();

}  // namespace testenv

// Skips the test (or fails it where the samples are required) when the sample
// file or folder `relative` is absent; otherwise goes on.
#define VTR_REQUIRE_SAMPLE(relative)                                                          \
    do {                                                                                      \
        QString vtrWhy_;                                                                      \
        if (testenv::samplePath(relative, &vtrWhy_).isEmpty()) {                              \
            if (testenv::samplesRequired()) FAIL() << vtrWhy_.toStdString();                  \
            GTEST_SKIP();  /* the program has said once what is missing */                  \
        }                                                                                     \
    } while (false)

// The test goes on only as an unprivileged user; see runUnprivileged().
#define VTR_TEST_AS_UNPRIVILEGED_USER()                                                       \
    do {                                                                                      \
        QString vtrWhy_;                                                                      \
        switch (testenv::runUnprivileged(&vtrWhy_)) {                                         \
        case testenv::Unprivileged::Here: break;                                              \
        case testenv::Unprivileged::Done: return;                                             \
        case testenv::Unprivileged::Unavailable: GTEST_SKIP() << vtrWhy_.toStdString();       \
        }                                                                                     \
    } while (false)
