#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class QWidget;

// The program's start: options, the layers' start-up in their order, the
// window and the wizard.
namespace vtrapp {

class SimulatedPhone;

// How the program ends (besides 0, a wizard that ran).
enum ExitStatus : int {
    kExitUsage = 2,           // wrong options, or a phone fixture that cannot be used
    kExitNoDisplay = 3,       // no display could be opened
    kExitAlreadyRunning = 4,  // the wizard already runs for this home folder or cache folder
};

struct StartupOptions
{
    // A simulated phone from this fixture (a JSON phone description) is put
    // under the application: an Android phone, an iPhone or a BlackBerry
    // (SimulatedPhone.h), arriving with the fixture's identity a moment after
    // start. The fixture is read and checked with the options.
    QString simulatedPhone;
    std::shared_ptr<SimulatedPhone> phone;
    // Milliseconds after start (or after state 2, for the tour) of that arrival.
    int simulatedPhoneDelayMs = 1000;
    // Walks the wizard through every state it reaches, answering every alert
    // with its default button, and writes one picture per state here.
    QString screenshotFolder;
    // With screenshotFolder: the tour takes the one-step road (Generate).
    bool oneStep = false;
    // Prints each state entered and quits when this one is reached (-1: never).
    int quitAfterState = -1;
    // Ends the program when the window has been painted for the first time.
    bool exitOnFirstPaint = false;
    bool help = false;
    QString error;

    // The real Windows Live upload opens the login sheet: the simulated phone
    // and the tour keep the stand-in, which completes the upload at once.
    bool uploadsToWindowsLive() const { return simulatedPhone.isEmpty() && screenshotFolder.isEmpty(); }
};

// The options of the command line (the program's name first). Needs no
// application object, so that --help and wrong options are answered anywhere.
StartupOptions parseOptions(const QStringList &arguments);
QString usageText();

// The window's size and place on a screen with this available area: its
// preferred size where that fits, otherwise as much as fits with room for
// the window's frame, never below `minimum`; centred.
QRect windowGeometryForScreen(const QSize &preferred, const QSize &minimum, const QRect &available);
// Places the window so on the screen it opens on.
void placeWindowOnScreen(QWidget *window);

// Runs the application; returns the process's exit status.
int runApplication(int argc, char **argv);

}  // namespace vtrapp
