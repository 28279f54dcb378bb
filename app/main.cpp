#include "app/AppStartup.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// A sanitizer build reads its options from /proc/self/environ, which a
// process started from a file it may run but not read cannot read: so the
// tests start the wizard as an unprivileged user, that no other process of
// that user can attach to it. The leak check at exit would then run knowing
// none of the options handed to it, and it opens the process to its user
// while it looks; where those options turn it off, the wizard leaves without
// its exit handlers.
bool leakCheckTurnedOff()
{
#if defined(__SANITIZE_ADDRESS__)
    const char *options = std::getenv("ASAN_OPTIONS");
    const char *last = nullptr;
    for (const char *at = options; at && (at = std::strstr(at, "detect_leaks=")); at += 13) last = at;
    return last && last[13] == '0';
#else
    return false;
#endif
}

}  // namespace

// The options are described by --help (vtrapp::usageText()).
int main(int argc, char **argv)
{
    // The Windows Live login page's web view shares its GL contexts; this must
    // be set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    const int status = vtrapp::runApplication(argc, argv);
    if (leakCheckTurnedOff()) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
