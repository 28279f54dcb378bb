#pragma once

#include "foundation/Log.h"
#include "foundation/LogFile.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class LogHandler;

// Told about new and trimmed items, always on the main thread and never
// waited for. A delegate is not owned: clear it (setDelegate(nullptr)) on the
// main thread before it goes away, and no notification reaches it afterwards.
class LogHandlerDelegate
{
public:
    virtual ~LogHandlerDelegate() = default;
    virtual void logItemAddedNotification(LogHandler *handler) = 0;
    virtual void logTrimmedNotification(LogHandler *handler) = 0;
};

// The sink of the structured log call: keeps every record in a LogFile, trims
// the history when it grows long and remembers whether a warning or an error
// was logged. Every operation on the file holds one recursive lock, taken with
// a time-out (30 seconds); a caller that does not get it gives up: a record is
// dropped, a count answers 0, an item std::nullopt, a save false.
//
// Destruction first refuses new calls and calls still waiting for the lock,
// then waits for the calls holding it (a lockWithTimeout() not yet paired with
// unlock() included; that thread may go on calling the handler until it
// unlocks) and always closes the file. A notification still queued for the
// main thread is discarded when its handler is gone.
class LogHandler : public LogHandlerBase
{
public:
    // `path` empty: defaultLogFilePath().
    LogHandler(LogHandlerDelegate *delegate, const QString &path);
    ~LogHandler() override;

    LogHandler(const LogHandler &) = delete;
    LogHandler &operator=(const LogHandler &) = delete;

    // The handler installed by LogInitialize(), or null.
    static std::shared_ptr<LogHandler> defaultHandler();
    // "<application file name without extension> Log" in the state folder.
    static QString defaultLogFilePath();

    // Trims to the newest kTrimmedItemCount items when kTrimThreshold or more
    // are stored (then sends the trimmed notification), adds the record and
    // sends the added notification.
    void logWithDataFromDictionary(const QVariantMap &record) override;
    // Empties the log and sends the trimmed notification.
    void clear();
    unsigned int getItemCount();
    std::optional<QVariantMap> getItem(unsigned int index);
    // Writes the whole log file image to `path`, atomically.
    bool saveToFile(const QString &path);

    // Every successful lockWithTimeout() must be paired with unlock() on the
    // same thread.
    bool lockWithTimeout();
    void unlock();

    void setDelegate(LogHandlerDelegate *delegate);
    LogHandlerDelegate *delegate() const;
    void setWarningAndErrorFlag(bool flag) override;
    bool getWarningAndErrorFlag() const;

    // The lock time-out (30 seconds unless changed; tests shorten it).
    void setLockTimeout(std::chrono::milliseconds timeout);

    static constexpr unsigned int kTrimThreshold = 25000;
    static constexpr unsigned int kTrimmedItemCount = 2500;

private:
    struct Notifier;
    enum class Note { Added, Trimmed };
    void notify(Note note);

    // Shared with notifications queued for the main thread, so that one that
    // arrives after the handler is gone finds it gone.
    std::shared_ptr<Notifier> m_notifier;
    LogFile m_logFile;
    std::atomic<bool> m_warningAndErrorFlag{false};

    // The recursive lock with a time-out, and the count of calls inside, both
    // guarded by m_state. A plain mutex and condition variable keep it visible
    // to thread checkers.
    std::mutex m_state;
    std::condition_variable m_changed;
    std::thread::id m_owner; // the thread holding the lock
    int m_depth = 0;         // its recursion depth; 0 when the lock is free
    int m_inside = 0;        // holders and waiters
    bool m_closing = false;
    std::chrono::milliseconds m_timeout{30000};
};
