#include "app/AppStartup.h"

// The options are described by --help (vtrapp::usageText()).
int main(int argc, char **argv) { return vtrapp::runApplication(argc, argv); }
