#include "LogHandler.h"

#include "platform/Folders.h"
#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

struct LogHandler::Notifier
{
    LogHandler *handler = nullptr;
    std::atomic<LogHandlerDelegate *> delegate{nullptr};
    // Held while a notification is delivered and when the handler goes away,
    // so a delivery never sees a half-destroyed handler.
    std::recursive_mutex delivery;
    bool alive = true;
};

namespace {

class LockGuard
{
public:
    explicit LockGuard(LogHandler *handler) : m_handler(handler) {}
    ~LockGuard() { m_handler->unlock(); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

private:
    LogHandler *m_handler;
};

} // namespace

LogHandler::LogHandler(LogHandlerDelegate *delegate, const QString &path) : m_notifier(std::make_shared<Notifier>())
{
    m_notifier->handler = this;
    m_notifier->delegate = delegate;
    m_logFile.createOpenReadFile(path.isEmpty() ? defaultLogFilePath() : path);
}

LogHandler::~LogHandler()
{
    LogForgetHandler(this);
    {
        std::unique_lock<std::mutex> state(m_state);
        m_closing = true;
        m_changed.notify_all(); // waiters give up
        m_changed.wait(state, [this] { return m_inside == 0; });
    }
    {
        std::lock_guard<std::recursive_mutex> delivery(m_notifier->delivery);
        m_notifier->alive = false;
        m_notifier->handler = nullptr;
    }
    m_logFile.close();
}

std::shared_ptr<LogHandler> LogHandler::defaultHandler()
{
    return std::dynamic_pointer_cast<LogHandler>(LogDefaultHandler());
}

QString LogHandler::defaultLogFilePath()
{
    QString name;
    if (QCoreApplication::instance()) name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty()) name = QString::fromLatin1(platform::kAppFolderName);
    const QString folder = platform::stateFolder();
    // The log holds device data: its folder is private. An unsafe folder (a
    // symlink, someone else's) leaves the log in memory only.
    if (!platform::ensurePrivateFolder(folder)) return QString();
    return folder + QLatin1Char('/') + name + QStringLiteral(" Log");
}

bool LogHandler::lockWithTimeout()
{
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> state(m_state);
    if (m_depth > 0 && m_owner == me) {
        // A thread already holding the lock is part of a call inside: its
        // nested calls go on even while the handler is being destroyed.
        ++m_depth;
        ++m_inside;
        return true;
    }
    if (m_closing) return false;
    ++m_inside;
    const bool free = m_changed.wait_for(state, m_timeout, [this] { return m_depth == 0 || m_closing; });
    if (!free || m_closing) {
        if (--m_inside == 0) m_changed.notify_all();
        return false;
    }
    m_owner = me;
    m_depth = 1;
    return true;
}

void LogHandler::unlock()
{
    std::lock_guard<std::mutex> state(m_state);
    --m_inside;
    if (--m_depth == 0) m_owner = std::thread::id();
    m_changed.notify_all();
}

void LogHandler::notify(Note note)
{
    if (!m_notifier->delegate.load()) return;
    std::shared_ptr<Notifier> notifier = m_notifier;
    platform::runOnMain([notifier, note] {
        std::lock_guard<std::recursive_mutex> delivery(notifier->delivery);
        LogHandlerDelegate *delegate = notifier->delegate.load();
        if (!notifier->alive || !delegate) return;
        if (note == Note::Added)
            delegate->logItemAddedNotification(notifier->handler);
        else
            delegate->logTrimmedNotification(notifier->handler);
    });
}

void LogHandler::logWithDataFromDictionary(const QVariantMap &record)
{
    if (!lockWithTimeout()) return;
    LockGuard guard(this);
    if (m_logFile.getItemCount() >= kTrimThreshold) {
        m_logFile.trimLines(kTrimmedItemCount);
        notify(Note::Trimmed);
    }
    m_logFile.addItem(record);
    notify(Note::Added);
}

void LogHandler::clear()
{
    if (!lockWithTimeout()) return;
    LockGuard guard(this);
    m_logFile.clear();
    notify(Note::Trimmed);
}

unsigned int LogHandler::getItemCount()
{
    if (!lockWithTimeout()) return 0;
    LockGuard guard(this);
    return m_logFile.getItemCount();
}

std::optional<QVariantMap> LogHandler::getItem(unsigned int index)
{
    if (!lockWithTimeout()) return std::nullopt;
    LockGuard guard(this);
    return m_logFile.getItem(index);
}

bool LogHandler::saveToFile(const QString &path)
{
    if (!lockWithTimeout()) return false;
    LockGuard guard(this);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray image = m_logFile.buildFileImage();
    if (file.write(image) != image.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void LogHandler::setDelegate(LogHandlerDelegate *delegate)
{
    m_notifier->delegate = delegate;
}

LogHandlerDelegate *LogHandler::delegate() const
{
    return m_notifier->delegate.load();
}

void LogHandler::setWarningAndErrorFlag(bool flag)
{
    m_warningAndErrorFlag = flag;
}

bool LogHandler::getWarningAndErrorFlag() const
{
    return m_warningAndErrorFlag.load();
}

void LogHandler::setLockTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> state(m_state);
    m_timeout = timeout;
}

void LogInitialize(void *delegate, const QString &path)
{
    if (LogDefaultHandler()) return;
    // The delegate crosses Log.h untyped; it must be a LogHandlerDelegate.
    auto handler = std::make_shared<LogHandler>(static_cast<LogHandlerDelegate *>(delegate), path);
    if (!LogInstallHandler(handler)) return;
    LogRegisterAndReadDefaults();
}
