#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>

// The process-wide structured log call. Categories in use: 0 notes,
// 1 warnings, 2 errors, 4 device configuration and caught device-file
// exceptions, 7 command and reply bytes (also needs the packets flag),
// 11 separators. Without a handler an enabled call writes its message alone to
// the system log; with one, it becomes a record dictionary with the keys
// "type", "message", "message2", "sourceFile", "sourceLine", "function",
// "module", "data", "extra" and "date".
//
// Messages are plain QStrings built by the caller (QString::arg); runtime text
// is never interpreted as a format.

inline constexpr int kLogCategoryCount = 12;

// What a log handler must answer; the log-file handler implements it.
class LogHandlerBase
{
public:
    virtual ~LogHandlerBase() = default;
    virtual void setWarningAndErrorFlag(bool flag) = 0;
    virtual void logWithDataFromDictionary(const QVariantMap &record) = 0;
};

// `message` null (QString()) means "no format given". `data` holding a
// QByteArray is the Mac's data object (kept under "data" only with packets on);
// any other non-null value is described under "extra".
void LogWrite(int category, const char *module, const char *sourceFile, const char *function, int line,
              const QVariant &data, const QVariant &message2, const QString &message);

// Creates the default handler (a LogHandler writing to `path`, or its default
// log file when `path` is empty) and reads the persisted flags back. A second
// call keeps the first handler. `delegate` is handed to the handler unchanged.
void LogInitialize(void *delegate, const QString &path);
void LogTerminate();

// Installs an already made handler as the default one (used by LogInitialize
// and by tests); returns false and leaves everything as it is when one exists.
bool LogInstallHandler(std::shared_ptr<LogHandlerBase> handler);
// Forgets `handler` if it is the default one (a handler going away clears the
// module's reference).
void LogForgetHandler(const LogHandlerBase *handler);
std::shared_ptr<LogHandlerBase> LogDefaultHandler();

void LogSeparator();
void LogSetCategoryEnabled(unsigned int category, bool enabled);
bool LogIsCategoryEnabled(unsigned int category);
inline bool LogIsCategoryEnabled(int category) { return category >= 0 && LogIsCategoryEnabled(unsigned(category)); }
void LogSetPacketsEnabled(bool enabled);
void LogSetRecordsEnabled(bool enabled);
bool LogArePacketsEnabled();
bool LogAreRecordsEnabled();
void LogSetDateStampsEnabled(bool enabled);
bool LogAreDateStampsEnabled();
void LogEnableAll();
void LogEnableEverything();  // the second entry point with the same effect
void LogDisableAll();
void LogSetDefaultCategories();
bool LogAllEnabled();
void LogFormat(const QString &message);

// Registers the persisted flags with their current values and reads them back.
void LogRegisterAndReadDefaults();

// Restores the built-in flags (0, 1, 2, 3, 11 on; packets and records off;
// date stamps on) without touching the user defaults. For tests.
void LogResetToBuiltInFlags();

// Where messages go when no handler exists (stderr by default). Tests capture it.
void LogSetSystemLogSink(std::function<void(const QString &)> sink);

// The Mac's NSLogv wrapper: always writes to the system log, no level test.
void VtrDebugLog(const QString &message);

// Text form of a log data object (the "extra" value).
QString LogDescription(const QVariant &value);

class VtrLogDebug
{
public:
    static int debugLevel();
    static void setDebugLevel(int level);
};

// ---- a line written once for each of many items ----------------------------

// How many of one such line are written; the others are only counted.
inline constexpr qsizetype kLogRepeatsWritten = 10;

// A line that one piece of work may write once for each of thousands of
// items (the cards of a file, the files of a phone): the first
// kLogRepeatsWritten are written, the others only counted, and finish()
// writes in one line how many more there were. Safe to share between threads.
//
// One made OfRuns (a static object, living as long as the program) is bounded
// while a LogRun lasts, and the run's end finishes it; outside every run each
// of its lines is written.
class LogRepeats
{
public:
    enum Scope { Own, OfRuns };
    // `more` makes the closing line from the number that was not written.
    LogRepeats(int category, std::function<QString(qsizetype)> more, Scope scope = Own);
    // Finishes one of its own.
    ~LogRepeats();
    LogRepeats(const LogRepeats &) = delete;
    LogRepeats &operator=(const LogRepeats &) = delete;

    // Whether the line at hand is to be written; while the bound holds, it
    // is counted either way.
    bool admit();
    // Writes how many were only counted, if any, and starts over.
    void finish();

private:
    const int m_category;
    const std::function<QString(qsizetype)> m_more;
    const Scope m_scope;
    std::mutex m_mutex;
    qsizetype m_count = 0;
};

// One backup or transfer of the wizard, while this lives: the lines made
// OfRuns are bounded, and its end writes their counts. A run within a run is
// part of it.
class LogRun
{
public:
    LogRun();
    ~LogRun();
    LogRun(const LogRun &) = delete;
    LogRun &operator=(const LogRun &) = delete;
};

// Call-site form: the category is tested before the message is built.
#define VTR_LOG(category, message)                                                                   \
    do {                                                                                             \
        if (LogIsCategoryEnabled(category))                                                          \
            LogWrite((category), "", __FILE__, Q_FUNC_INFO, __LINE__, QVariant(), QVariant(), (message)); \
    } while (0)

#define VTR_LOG_DATA(category, data, message)                                                          \
    do {                                                                                               \
        if (LogIsCategoryEnabled(category))                                                            \
            LogWrite((category), "", __FILE__, Q_FUNC_INFO, __LINE__, QVariant(data), QVariant(), (message)); \
    } while (0)
