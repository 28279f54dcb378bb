#pragma once

// Included by exactly one source of each test that opens a web view.
#include <QCoreApplication>

// The web engine's allocations trip AddressSanitizer's new/delete pairing check.
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

// The engine keeps allocations to the end of the process (also named in
// tests/lsan.supp; here so the test stands without that file).
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore.so\nleak:libfontconfig.so\n";
}

namespace livetest {

// Before the application object exists: the web engine refuses to run as
// root without its sandbox switch, and wants shared GL contexts.
inline const bool g_webEngineReady = [] {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}();

}  // namespace livetest
