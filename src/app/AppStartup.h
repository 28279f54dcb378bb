#pragma once

#include <QString>
#include <QStringList>

// The program's start: options, the layers' start-up in their order, the
// window and the wizard.
namespace vtrapp {

struct StartupOptions
{
    // A simulated phone from this fixture (a JSON phone description) is put
    // under the application: the MTP simulator plus a USB arrival with the
    // fixture's identity a moment after start.
    QString simulatedPhone;
    // Milliseconds after start (or after state 2, for the tour) of that arrival.
    int simulatedPhoneDelayMs = 1000;
    // Walks the wizard through every state it reaches, answering every alert
    // with its default button, and writes one picture per state here.
    QString screenshotFolder;
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

StartupOptions parseOptions(const QStringList &arguments);
QString usageText();

// Runs the application; returns the process's exit status.
int runApplication(int argc, char **argv);

}  // namespace vtrapp
