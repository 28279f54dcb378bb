#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <QStringList>
#include <QUrl>

class QWidget;

// One modal question to the person. The first button is the default one
// unless `defaultButton` says otherwise.
struct AlertRequest
{
    enum class Style { Informational, Warning, Critical };

    QString messageText;
    // Shown literally, never used as a format.
    QString informativeText;
    QStringList buttons;
    int defaultButton = 0;
    // The button that Escape (or closing the alert) presses: one that leaves
    // things as they are, never one that quits or stops work. -1: the alert
    // has none, and Escape does nothing.
    int cancelButton = -1;
    bool beep = false;
    Style style = Style::Warning;
};

// Shows alerts. The application asks the person through a message box; tests
// put a scripted answerer in its place. Main thread only.
class AlertPresenter
{
public:
    virtual ~AlertPresenter() = default;
    // The index of the button pressed. Escape and closing the alert press
    // its cancel button, and do nothing on an alert without one.
    virtual int runAlert(const AlertRequest &request) = 0;
    // A save panel that requires `fileType` (an extension without the dot)
    // and starts at `suggestedPath`; empty when the person cancels.
    virtual QString runSavePanel(const QString &suggestedPath, const QString &fileType) = 0;
};

class MessageBoxAlertPresenter final : public AlertPresenter
{
public:
    explicit MessageBoxAlertPresenter(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }
    int runAlert(const AlertRequest &request) override;
    QString runSavePanel(const QString &suggestedPath, const QString &fileType) override;

private:
    QWidget *m_parent;
};

// A desktop program that has opened a phone's USB device to show its files.
struct DesktopMtpHandler
{
    qint64 pid = 0;
    QString program;     // the process's name ("gvfsd-mtp")
    QString deviceNode;  // "/dev/bus/usb/001/005"
};

// What the computer around the application offers: installed programs, the
// browser, the bell. The Linux answers are LinuxHostEnvironment's; tests
// inject their own.
class HostEnvironment
{
public:
    virtual ~HostEnvironment() = default;
    // Where the program known by this reverse-DNS identifier is installed;
    // empty when it is not.
    virtual QString applicationPath(const QString &identifier) const = 0;
    bool isApplicationInstalled(const QString &identifier) const { return !applicationPath(identifier).isEmpty(); }
    // Starts the program; `background` starts it without bringing it forward
    // and waits until it runs. False when it cannot be started.
    virtual bool launchApplication(const QString &identifier, bool background) = 0;
    virtual bool openUrl(const QUrl &url) = 0;
    // The same; `failedLater` runs (main thread) when the opening fails
    // after it began, such as when no browser is found.
    virtual bool openUrlWatched(const QUrl &url, std::function<void()> failedLater)
    {
        (void)failedLater;
        return openUrl(url);
    }
    virtual void beep() = 0;

    // ---- the computer checks (Linux answers in EnvironmentChecks.cpp) ----
    // The photo library that imported photos are filed into can be used.
    virtual bool isPhotoLibraryAvailable() const;
    // 1 online, 0 offline, -1 unknown, by the system's own network
    // information. Main thread; never waits.
    virtual int networkReachability() const;
    // Whether `hostAndPort` takes a connection within `timeoutMs`. Waits:
    // asked on a background job.
    virtual bool canReachHost(const QString &hostAndPort, int timeoutMs) const;
    // Desktop MTP handlers holding a phone's USB device. Reads the process
    // list: asked on a background job.
    virtual QList<DesktopMtpHandler> desktopMtpHandlers() const;
    // The iCloud accounts file named by the user default
    // "MobileMeAccountsPath"; empty when there is none.
    virtual QString iCloudAccountsFile() const;
};

// Linux answers: a program is installed when a desktop entry named after its
// identifier exists in the XDG application folders. The music library that
// the Mac kept in iTunes is this application's own media-library host, so
// "com.apple.itunes" is always installed (this program) and launching it
// starts nothing; the BlackBerry desktop software has no Linux version.
class LinuxHostEnvironment final : public HostEnvironment
{
public:
    QString applicationPath(const QString &identifier) const override;
    bool launchApplication(const QString &identifier, bool background) override;
    bool openUrl(const QUrl &url) override;
    // Through the desktop's opener (xdg-open), which tells by its exit
    // status whether a program took the address.
    bool openUrlWatched(const QUrl &url, std::function<void()> failedLater) override;
    void beep() override;
};

namespace vtrapp {
inline constexpr const char *kITunesIdentifier = "com.apple.itunes";
inline constexpr const char *kBlackBerryDesktopIdentifier = "com.rim.blackberrydesktopmanager";
}  // namespace vtrapp
