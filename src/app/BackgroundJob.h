#pragma once

#include "platform/VtrException.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The one way the application runs long work off the main thread: backups,
// the PIM gathering, the media copy, the Live upload preparations, the app
// lists and every blocking call into a phone or a tool.
//
// A job object lives on the main thread; run() executes on a thread of its
// own. Whatever run() throws (a VtrException, any std::exception or anything
// else) is caught at its top and becomes a failed result: a job never ends
// the process. progress() and finished() are emitted on the main thread.
//
// The result is the job result dictionary: "success" (bool) always,
// "errorMsg" (text) when the job names the failed step, "exception" on
// failure: a map {"name", "reason"} of the caught exception.
//
// Destroying a running job cancels it and waits for its thread; a job that
// waits for its completion to run on the main thread is released from that
// wait first, so destruction never deadlocks.
class BackgroundJob : public QObject
{
    Q_OBJECT
public:
    explicit BackgroundJob(QObject *parent = nullptr);
    ~BackgroundJob() override;

    // Starts run() on a new thread; false when the job runs already.
    bool start();
    // Asks run() to stop at its next isCancelled() check. Any thread.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }
    bool isRunning() const { return m_running.load(); }

    // When set, the job's thread waits until finished() has been delivered on
    // the main thread (the jobs whose completion must run before the job lets
    // go of what it used).
    void setWaitsForCompletion(bool waits) { m_waitsForCompletion = waits; }

    // Blocks until the thread has ended (tests, teardown). Not on the main
    // thread while the job waits for its completion.
    void join();

    static QVariantMap successResult();
    static QVariantMap failureResult(const VtrException &exception, const QString &errorMessage = QString());
    static bool resultSucceeded(const QVariantMap &result);
    // The reason of the result's exception; empty without one.
    static QString resultReason(const QVariantMap &result);

Q_SIGNALS:
    void progress(double fraction, const QString &status);
    void finished(const QVariantMap &result);

protected:
    // On the job's thread. Returns the result dictionary (successResult()
    // unless the job has more to say); may throw.
    virtual QVariantMap run() = 0;
    // Any thread: emits progress() on the main thread.
    void reportProgress(double fraction, const QString &status = QString());
    // Cancels, releases a wait for the completion and joins the thread. A
    // subclass whose run() uses its own members calls it in its destructor.
    void stopAndJoin();

private:
    void threadMain();
    void deliver(const QVariantMap &result);

    std::thread m_thread;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_running{false};
    bool m_waitsForCompletion = false;

    std::mutex m_deliveryMutex;
    std::condition_variable m_delivered;
    bool m_deliveryDone = false;
    bool m_abandoned = false;
};

// A job made of one function: for short blocking calls (a tool run, one
// phone query) whose answer the main thread needs.
class FunctionJob final : public BackgroundJob
{
    Q_OBJECT
public:
    using Function = std::function<QVariantMap(FunctionJob &job)>;
    explicit FunctionJob(Function function, QObject *parent = nullptr)
        : BackgroundJob(parent), m_function(std::move(function))
    {}
    ~FunctionJob() override;

protected:
    QVariantMap run() override { return m_function(*this); }

private:
    Function m_function;
};
