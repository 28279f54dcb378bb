#pragma once

#include "app/WizardInterfaces.h"
#include "online/LiveDelegate.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>

class LiveCalendars;
class NS_AppController;
class LiveContacts;
class LiveSession;
class QWidget;

// What the Windows Live steps need of the wizard's controller: the choices of
// the two kinds, the bodies the PIM readers handed over, the upload state and
// counters, alerts, progress and the way on.
class WindowsLiveHost
{
public:
    virtual ~WindowsLiveHost() = default;

    virtual bool contactsEnabled() const = 0;
    virtual bool contactsValue() const = 0;
    virtual bool calendarsEnabled() const = 0;
    virtual bool calendarsValue() const = 0;
    virtual void setContactsEnabled(bool value) = 0;
    virtual void setContactsValue(bool value) = 0;
    virtual void setCalendarsEnabled(bool value) = 0;
    virtual void setCalendarsValue(bool value) = 0;

    virtual QVariantList contacts() const = 0;
    virtual QVariantList calendars() const = 0;
    virtual void stowCalendars(const QVariantList &calendars) = 0;

    virtual int livePIMState() const = 0;
    virtual void setLivePIMState(int state) = 0;
    virtual void setNumConSuccess(quint32 count) = 0;
    virtual void setNumCalSuccess(quint32 count) = 0;
    virtual void setNumEvSuccess(quint32 count) = 0;
    // What became of a kind's bodies ("Contacts Phase", "Events Phase"):
    // written when every one reached the account, else failed with the reason.
    virtual void setUploadResult(const QString &phase, bool allSent, const QString &reason) = 0;

    // A modal critical alert; the first button is the default. The index of
    // the button pressed.
    virtual int runCriticalAlert(const QString &title, const QString &text, const QStringList &buttons) = 0;
    virtual void terminate() = 0;
    virtual void setStatus(const QString &status, const QString &phase, double percent) = 0;
    virtual void gotoNextState() = 0;
    virtual QWidget *mainWindow() const = 0;
};

// The Windows Live limits of the account, and the driving of the upload
// through its stages: 0 contacts, 1 calendars with their events, 2 done.
class WindowsLiveUpload : public QObject, public LiveDelegate
{
    Q_OBJECT

public:
    static constexpr int kMaxContacts = 10000;
    static constexpr int kMaxCalendarItems = 500;

    struct Limits
    {
        int contacts = kMaxContacts;
        int calendarItems = kMaxCalendarItems;
    };
    // The compiled limits, or both the user default "forceLiveMax" when it
    // exists (a negative one counts as 0).
    static Limits limits();

    // Keeps at most `limit` events across all calendars: the upcoming events
    // that start soonest, then the most recent past ones. Removes by
    // position; calendars stay even when emptied.
    static void pruneCalendars(QVariantList &calendars, int limit, const QDateTime &now = QDateTime::currentDateTime());
    // The start of an event body ("start_time", "yyyy-MM-dd'T'HH:mm:ssZ");
    // invalid when missing or unreadable.
    static QDateTime eventStart(const QVariantMap &event);

    explicit WindowsLiveUpload(WindowsLiveHost &host, QObject *parent = nullptr);
    ~WindowsLiveUpload() override;

    // The limit check of the step before the upload.
    void checkAndWarnCalendarContactCounts();
    // Starts the stage of the host's livePIMState.
    void startNextLiveUpload();

    LiveSession *liveSession() const { return m_session.get(); }
    // How sessions are made (tests give one with a fake login).
    using SessionFactory = std::function<std::unique_ptr<LiveSession>(QWidget *window)>;
    void setSessionFactory(SessionFactory factory) { m_sessionFactory = std::move(factory); }

    void liveProgressUpdate(float fraction) override;
    void liveOperationComplete() override;
    void liveUserCancelled() override;

private:
    // Objects dropped from inside their own callbacks go from the event loop.
    struct DeleteLater
    {
        void operator()(QObject *object) const;
    };

    enum class LimitAnswer { Skip, Quit, Continue };
    // The critical alert of a kind over its limit; "Quit" ends the application.
    LimitAnswer askAboutLimit(const char *title, const char *text, const char *skipButton, int limit);

    bool contactsChosen() const { return m_host.contactsEnabled() && m_host.contactsValue(); }
    bool calendarsChosen() const { return m_host.calendarsEnabled() && m_host.calendarsValue(); }
    void dropUploaders();

    WindowsLiveHost &m_host;
    SessionFactory m_sessionFactory;
    std::unique_ptr<LiveSession, DeleteLater> m_session;
    std::unique_ptr<LiveContacts, DeleteLater> m_contacts;
    std::unique_ptr<LiveCalendars, DeleteLater> m_calendars;
    // How many bodies the current stage was given.
    int m_contactsSent = 0;
    int m_calendarsSent = 0;
    int m_eventsSent = 0;
};

// The wizard controller's Windows Live seat (states 17 and 18): the limits
// and the upload above, on the controller's own choices, bodies, counters,
// alerts and progress.
class NS_AppControllerLiveDriver final : public LiveUploadDriver, private WindowsLiveHost
{
public:
    explicit NS_AppControllerLiveDriver(NS_AppController &controller);
    ~NS_AppControllerLiveDriver() override;

    void checkAndWarnCalendarContactCounts(NS_AppController &controller) override;
    void startNextLiveUpload(NS_AppController &controller) override;

    WindowsLiveUpload &upload() { return m_upload; }

private:
    bool contactsEnabled() const override;
    bool contactsValue() const override;
    bool calendarsEnabled() const override;
    bool calendarsValue() const override;
    void setContactsEnabled(bool value) override;
    void setContactsValue(bool value) override;
    void setCalendarsEnabled(bool value) override;
    void setCalendarsValue(bool value) override;
    QVariantList contacts() const override;
    QVariantList calendars() const override;
    void stowCalendars(const QVariantList &calendars) override;
    int livePIMState() const override;
    void setLivePIMState(int state) override;
    void setNumConSuccess(quint32 count) override;
    void setNumCalSuccess(quint32 count) override;
    void setNumEvSuccess(quint32 count) override;
    void setUploadResult(const QString &phase, bool allSent, const QString &reason) override;
    int runCriticalAlert(const QString &title, const QString &text, const QStringList &buttons) override;
    void terminate() override;
    void setStatus(const QString &status, const QString &phase, double percent) override;
    void gotoNextState() override;
    QWidget *mainWindow() const override;

    NS_AppController &m_controller;
    WindowsLiveUpload m_upload;
};
