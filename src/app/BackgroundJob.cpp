#include "app/BackgroundJob.h"

#include "foundation/Log.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

BackgroundJob::BackgroundJob(QObject *parent) : QObject(parent) {}

BackgroundJob::~BackgroundJob() { stopAndJoin(); }

void BackgroundJob::stopAndJoin()
{
    cancel();
    {
        std::lock_guard lock(m_deliveryMutex);
        m_abandoned = true;
    }
    m_delivered.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

FunctionJob::~FunctionJob()
{
    // The thread may still be inside m_function: stop it before the member goes.
    stopAndJoin();
}

bool BackgroundJob::start()
{
    if (m_running.exchange(true)) return false;
    if (m_thread.joinable()) m_thread.join();
    m_cancelled.store(false);
    {
        std::lock_guard lock(m_deliveryMutex);
        m_deliveryDone = false;
        m_abandoned = false;
    }
    m_thread = std::thread([this] { threadMain(); });
    return true;
}

void BackgroundJob::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void BackgroundJob::threadMain()
{
    QVariantMap result;
    try {
        result = run();
        if (!result.contains(QStringLiteral("success"))) result.insert(QStringLiteral("success"), true);
    } catch (const VtrException &e) {
        result = failureResult(e);
    } catch (const std::exception &e) {
        result = failureResult(VtrException(QStringLiteral("Exception"), QString::fromUtf8(e.what())));
    } catch (...) {
        result = failureResult(VtrException(QStringLiteral("Exception"), QStringLiteral("An unknown error occurred.")));
    }
    if (!resultSucceeded(result))
        VTR_LOG(2, QStringLiteral("%1 failed: %2").arg(QString::fromUtf8(metaObject()->className()), resultReason(result)));
    deliver(result);
    m_running.store(false);
}

void BackgroundJob::deliver(const QVariantMap &result)
{
    const bool posted = QMetaObject::invokeMethod(
        this,
        [this, result] {
            Q_EMIT finished(result);
            {
                std::lock_guard lock(m_deliveryMutex);
                m_deliveryDone = true;
            }
            m_delivered.notify_all();
        },
        Qt::QueuedConnection);
    if (!posted || !m_waitsForCompletion || QCoreApplication::instance() == nullptr) return;
    std::unique_lock lock(m_deliveryMutex);
    m_delivered.wait(lock, [this] { return m_deliveryDone || m_abandoned; });
}

void BackgroundJob::reportProgress(double fraction, const QString &status)
{
    QMetaObject::invokeMethod(this, [this, fraction, status] { Q_EMIT progress(fraction, status); },
                              Qt::QueuedConnection);
}

QVariantMap BackgroundJob::successResult() { return {{QStringLiteral("success"), true}}; }

QVariantMap BackgroundJob::failureResult(const VtrException &exception, const QString &errorMessage)
{
    QVariantMap result{{QStringLiteral("success"), false},
                       {QStringLiteral("exception"),
                        QVariantMap{{QStringLiteral("name"), exception.name()},
                                    {QStringLiteral("reason"), exception.reason()}}}};
    if (!errorMessage.isNull()) result.insert(QStringLiteral("errorMsg"), errorMessage);
    return result;
}

bool BackgroundJob::resultSucceeded(const QVariantMap &result)
{
    return result.value(QStringLiteral("success")).toBool();
}

QString BackgroundJob::resultReason(const QVariantMap &result)
{
    return result.value(QStringLiteral("exception")).toMap().value(QStringLiteral("reason")).toString();
}
