#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace testenv {
void initialise();
void giveEachTestItsOwnHome();
void cleanup();
void takeOutcomeChannel();
void reportOutcome();
bool isUnprivilegedRun();
}

// A QApplication (offscreen) exists for every test so that code which needs
// the main thread, timers or widgets runs as in the application.
int main(int argc, char **argv)
{
    testenv::takeOutcomeChannel();
    testenv::initialise();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleMock(&argc, argv);
    testenv::giveEachTestItsOwnHome();
    int rc;
    {
        QApplication app(argc, argv);
        // As the application does: UTF-8 names whatever the caller's locale.
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
        app.setOrganizationName(QStringLiteral("vantrel"));
        app.setApplicationName(QStringLiteral("solvennawindowsphone"));
        rc = RUN_ALL_TESTS();
        testenv::reportOutcome();
    }
    testenv::cleanup();
    std::fflush(nullptr);
    // A run as the unprivileged user runs a program it cannot read, so that no
    // other process of that user can attach to it; it cannot read its own
    // /proc/self/environ either, so the sanitizers start with none of the
    // options handed to it, and their leak check at exit (which opens the
    // process to its user while it looks, and knows none of the suppressions)
    // would run. Such a run leaves without the exit handlers: its outcome is
    // told and its output flushed.
    if (testenv::isUnprivilegedRun()) ::_exit(rc);
    return rc;
}
