#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace testenv {
void initialise();
void giveEachTestItsOwnHome();
void cleanup();
void takeOutcomeChannel();
void reportOutcome();
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
    std::fflush(stdout);
    return rc;
}
