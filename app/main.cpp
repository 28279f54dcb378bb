#include "app/AppStartup.h"

#include <QCoreApplication>

// The options are described by --help (vtrapp::usageText()).
int main(int argc, char **argv)
{
    // The Windows Live login page's web view shares its GL contexts; this must
    // be set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return vtrapp::runApplication(argc, argv);
}
