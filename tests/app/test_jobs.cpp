#include "app/BackgroundJob.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

bool waitFor(const std::function<bool()> &done, int ms = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QVariantMap runToEnd(FunctionJob::Function body)
{
    FunctionJob job(std::move(body));
    QVariantMap result;
    bool done = false;
    QObject::connect(&job, &BackgroundJob::finished, [&](const QVariantMap &r) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        result = r;
        done = true;
    });
    EXPECT_TRUE(job.start());
    EXPECT_TRUE(waitFor([&] { return done; }));
    return result;
}

TEST(BackgroundJob, WhateverTheJobThrowsBecomesAFailedResult)
{
    struct Case
    {
        const char *name;
        FunctionJob::Function body;
        bool success;
        const char *reason;
    };
    const Case cases[] = {
        {"success", [](FunctionJob &) { return QVariantMap{{QStringLiteral("count"), 3}}; }, true, ""},
        {"VtrException",
         [](FunctionJob &) -> QVariantMap { throw VtrException(QStringLiteral("DeviceException"), QStringLiteral("The phone went away.")); },
         false, "The phone went away."},
        {"std::exception", [](FunctionJob &) -> QVariantMap { throw std::runtime_error("disk full"); }, false, "disk full"},
        {"anything", [](FunctionJob &) -> QVariantMap { throw 42; }, false, "An unknown error occurred."},
    };
    for (const Case &c : cases) {
        const QVariantMap result = runToEnd(c.body);
        EXPECT_EQ(BackgroundJob::resultSucceeded(result), c.success) << c.name;
        EXPECT_EQ(BackgroundJob::resultReason(result), QString::fromLatin1(c.reason)) << c.name;
        EXPECT_EQ(result.contains(QStringLiteral("exception")), !c.success) << c.name;
    }
}

TEST(BackgroundJob, ProgressArrivesOnTheMainThreadAndCancelStopsTheWork)
{
    std::atomic<bool> started{false};
    FunctionJob job([&](FunctionJob &self) {
        started = true;
        int rounds = 0;
        while (!self.isCancelled() && rounds < 5000) {
            QThread::msleep(1);
            ++rounds;
        }
        return QVariantMap{{QStringLiteral("success"), true}, {QStringLiteral("cancelled"), self.isCancelled()}};
    });
    QVariantMap result;
    QObject::connect(&job, &BackgroundJob::finished, [&](const QVariantMap &r) { result = r; });
    job.start();
    EXPECT_FALSE(job.start());  // already running
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    job.cancel();
    ASSERT_TRUE(waitFor([&] { return !result.isEmpty(); }));
    EXPECT_TRUE(result.value(QStringLiteral("cancelled")).toBool());
}

class CountingJob final : public BackgroundJob
{
public:
    ~CountingJob() override { stopAndJoin(); }

protected:
    QVariantMap run() override
    {
        for (int i = 1; i <= 3; ++i) reportProgress(i / 3.0, QStringLiteral("step"));
        return successResult();
    }
};

TEST(BackgroundJob, AJobThatWaitsForItsCompletionGoesOnOnlyAfterIt)
{
    CountingJob job;
    job.setWaitsForCompletion(true);
    QList<double> progress;
    bool handled = false;
    QObject::connect(&job, &BackgroundJob::progress, [&](double p, const QString &) { progress.append(p); });
    QObject::connect(&job, &BackgroundJob::finished, [&](const QVariantMap &) {
        handled = true;
        EXPECT_TRUE(job.isRunning());  // the thread still waits for this handler
    });
    job.start();
    ASSERT_TRUE(waitFor([&] { return handled && !job.isRunning(); }));
    EXPECT_EQ(progress.size(), 3);
}

TEST(BackgroundJob, DestroyingAJobThatWaitsForItsCompletionDoesNotHang)
{
    std::atomic<bool> ran{false};
    {
        FunctionJob job([&](FunctionJob &) {
            ran = true;
            return BackgroundJob::successResult();
        });
        job.setWaitsForCompletion(true);
        job.start();
        while (!ran.load()) QThread::msleep(1);
        // The completion never runs: the main thread does not return to the
        // event loop before the job goes.
    }
    SUCCEED();
}

}  // namespace
