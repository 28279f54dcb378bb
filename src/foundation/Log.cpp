#include "Log.h"

#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

// Flags are read from every thread without a lock: atomics keep that defined.
std::atomic<bool> g_categories[kLogCategoryCount] = {true, true, true, true, false, false,
                                                       false, false, false, false, false, true};
std::atomic<bool> g_packets{false};
std::atomic<bool> g_records{false};
std::atomic<bool> g_dateStamps{true};
std::atomic<int> g_debugLevel{0};

QMutex g_handlerLock;
std::shared_ptr<LogHandlerBase> g_handler;
std::function<void(const QString &)> g_sink;

void writeSystemLog(const QString &message)
{
    std::function<void(const QString &)> sink;
    {
        QMutexLocker l(&g_handlerLock);
        sink = g_sink;
    }
    if (sink) {
        sink(message);
        return;
    }
    const QByteArray line = message.toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
}

QString categoryKey(unsigned int c)
{
    return QStringLiteral("Logging%1").arg(c);
}

QString lastPathComponent(const char *path)
{
    QString p = QString::fromUtf8(path);
    while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
    const qsizetype slash = p.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || p.size() == 1 ? p : p.mid(slash + 1);
}

// The lines of runs, and how many runs are under way.
struct Runs
{
    std::mutex mutex;
    std::vector<LogRepeats *> lines;
    std::atomic<int> depth{0};
};

Runs &runs()
{
    // Made before the first line of runs that it outlives.
    static Runs r;
    return r;
}

}  // namespace

LogRepeats::LogRepeats(int category, std::function<QString(qsizetype)> more, Scope scope)
    : m_category(category), m_more(std::move(more)), m_scope(scope)
{
    if (m_scope != OfRuns) return;
    Runs &r = runs();
    const std::lock_guard lock(r.mutex);
    r.lines.push_back(this);
}

LogRepeats::~LogRepeats()
{
    if (m_scope == Own) {
        finish();
        return;
    }
    Runs &r = runs();
    const std::lock_guard lock(r.mutex);
    r.lines.erase(std::remove(r.lines.begin(), r.lines.end(), this), r.lines.end());
}

bool LogRepeats::admit()
{
    if (m_scope == OfRuns && runs().depth.load() == 0) return true;
    const std::lock_guard lock(m_mutex);
    return ++m_count <= kLogRepeatsWritten;
}

void LogRepeats::finish()
{
    qsizetype more = 0;
    {
        const std::lock_guard lock(m_mutex);
        more = m_count - kLogRepeatsWritten;
        m_count = 0;
    }
    if (more > 0) VTR_LOG(m_category, m_more(more));
}

LogRun::LogRun()
{
    Runs &r = runs();
    const std::lock_guard lock(r.mutex);
    ++r.depth;
}

LogRun::~LogRun()
{
    Runs &r = runs();
    const std::lock_guard lock(r.mutex);
    if (--r.depth > 0) return;
    for (LogRepeats *lines : r.lines) lines->finish();
}

QString LogDescription(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QVariantMap:
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QVariantHash: {
        const QJsonDocument doc = QJsonDocument::fromVariant(value);
        return QString::fromUtf8(doc.toJson(QJsonDocument::Indented)).trimmed();
    }
    case QMetaType::QByteArray:
        return QStringLiteral("<%1>").arg(QString::fromLatin1(value.toByteArray().toHex()));
    default:
        if (value.canConvert<QString>()) return value.toString();
        return QString::fromLatin1(value.typeName() ? value.typeName() : "(null)");
    }
}

void LogWrite(int category, const char *module, const char *sourceFile, const char *function, int line,
              const QVariant &data, const QVariant &message2, const QString &message)
{
    if (unsigned(category) >= unsigned(kLogCategoryCount) || !g_categories[category].load()) return;

    std::shared_ptr<LogHandlerBase> handler = LogDefaultHandler();
    if (!handler) {
        writeSystemLog(message.isNull() ? QStringLiteral("(null)") : message);
        return;
    }
    if (category == 1 || category == 2) handler->setWarningAndErrorFlag(true);

    QVariantMap record;
    record.insert(QStringLiteral("type"), category);
    if (!message.isNull()) record.insert(QStringLiteral("message"), message);
    if (!message2.isNull()) record.insert(QStringLiteral("message2"), message2);
    if (sourceFile && *sourceFile) record.insert(QStringLiteral("sourceFile"), lastPathComponent(sourceFile));
    if (line > 0) record.insert(QStringLiteral("sourceLine"), line);
    if (function && *function) record.insert(QStringLiteral("function"), QString::fromUtf8(function));
    if (module && *module) record.insert(QStringLiteral("module"), QString::fromUtf8(module));
    if (data.isValid() && !data.isNull()) {
        if (data.typeId() == QMetaType::QByteArray) {
            if (g_packets.load()) record.insert(QStringLiteral("data"), data.toByteArray());
        } else {
            record.insert(QStringLiteral("extra"), LogDescription(data));
        }
    }
    if (g_dateStamps.load()) {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate d = now.date();
        const QTime t = now.time();
        record.insert(QStringLiteral("date"), QString::asprintf("%04d%02d%02dT%02d%02d%02d", d.year(), d.month(),
                                                                d.day(), t.hour(), t.minute(), t.second()));
    }
    handler->logWithDataFromDictionary(record);
}

bool LogInstallHandler(std::shared_ptr<LogHandlerBase> handler)
{
    QMutexLocker l(&g_handlerLock);
    if (g_handler) return false;
    g_handler = std::move(handler);
    return true;
}

void LogForgetHandler(const LogHandlerBase *handler)
{
    QMutexLocker l(&g_handlerLock);
    if (g_handler.get() == handler) g_handler.reset();
}

std::shared_ptr<LogHandlerBase> LogDefaultHandler()
{
    QMutexLocker l(&g_handlerLock);
    return g_handler;
}

void LogTerminate()
{
    std::shared_ptr<LogHandlerBase> old;
    {
        QMutexLocker l(&g_handlerLock);
        old.swap(g_handler);
    }
    // The handler is released outside the lock: its destructor may wait for
    // calls still inside it, and those may log.
}

void LogRegisterAndReadDefaults()
{
    QVariantMap defaults;
    defaults.insert(QStringLiteral("LogRecords"), g_records.load());
    defaults.insert(QStringLiteral("LogPackets"), g_packets.load());
    for (unsigned int c = 0; c < kLogCategoryCount; ++c) defaults.insert(categoryKey(c), g_categories[c].load());
    platform::UserDefaults::registerDefaults(defaults);
    for (unsigned int c = 0; c < kLogCategoryCount; ++c)
        g_categories[c] = platform::UserDefaults::value(categoryKey(c)).toBool();
    g_records = platform::UserDefaults::value(QStringLiteral("LogRecords")).toBool();
    g_packets = platform::UserDefaults::value(QStringLiteral("LogPackets")).toBool();
}

void LogSeparator()
{
    if (!LogIsCategoryEnabled(11u)) return;
    LogWrite(11, nullptr, __FILE__, "LogSeparator", __LINE__, QVariant(), QVariant(), QString());
}

void LogSetCategoryEnabled(unsigned int category, bool enabled)
{
    if (category >= kLogCategoryCount) return;
    g_categories[category] = enabled;
    platform::UserDefaults::setValue(categoryKey(category), enabled);
}

bool LogIsCategoryEnabled(unsigned int category)
{
    return category < kLogCategoryCount && g_categories[category].load();
}

void LogSetPacketsEnabled(bool enabled)
{
    g_packets = enabled;
    platform::UserDefaults::setValue(QStringLiteral("LogPackets"), enabled);
}

void LogSetRecordsEnabled(bool enabled)
{
    g_records = enabled;
    platform::UserDefaults::setValue(QStringLiteral("LogRecords"), enabled);
}

bool LogArePacketsEnabled() { return g_packets.load(); }
bool LogAreRecordsEnabled() { return g_records.load(); }
void LogSetDateStampsEnabled(bool enabled) { g_dateStamps = enabled; }
bool LogAreDateStampsEnabled() { return g_dateStamps.load(); }

static void setEverything(bool on)
{
    for (unsigned int c = 0; c < kLogCategoryCount; ++c) LogSetCategoryEnabled(c, on);
    LogSetPacketsEnabled(on);
    LogSetRecordsEnabled(on);
    LogSetDateStampsEnabled(on);
}

void LogEnableAll() { setEverything(true); }
void LogEnableEverything() { setEverything(true); }
void LogDisableAll() { setEverything(false); }

void LogSetDefaultCategories()
{
    LogDisableAll();
    for (unsigned int c : {0u, 1u, 2u, 3u, 11u}) LogSetCategoryEnabled(c, true);
}

bool LogAllEnabled()
{
    for (const auto &f : g_categories)
        if (!f.load()) return false;
    return g_packets.load() && g_records.load();
}

void LogFormat(const QString &message)
{
    LogWrite(0, nullptr, nullptr, nullptr, -1, QVariant(), QVariant(), message);
}

void LogResetToBuiltInFlags()
{
    for (unsigned int c = 0; c < kLogCategoryCount; ++c) g_categories[c] = (c <= 3 || c == 11);
    g_packets = false;
    g_records = false;
    g_dateStamps = true;
}

void LogSetSystemLogSink(std::function<void(const QString &)> sink)
{
    QMutexLocker l(&g_handlerLock);
    g_sink = std::move(sink);
}

void VtrDebugLog(const QString &message)
{
    writeSystemLog(message);
}

int VtrLogDebug::debugLevel() { return g_debugLevel.load(); }
void VtrLogDebug::setDebugLevel(int level) { g_debugLevel = level; }
