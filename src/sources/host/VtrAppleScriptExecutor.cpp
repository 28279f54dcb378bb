#include "sources/host/VtrAppleScriptExecutor.h"

#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/host/HostScript.h"
#include "sources/host/MediaLibraryHost.h"

#include <QFile>
#include <QStringDecoder>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::atomic<qint64> g_timeoutMs{10 * 60 * 1000};

QVariantMap errorDictionary(int number, const QString &message)
{
    return {{QStringLiteral("NSAppleScriptErrorNumber"), number},
            {QStringLiteral("NSAppleScriptErrorMessage"), message},
            {QStringLiteral("NSAppleScriptErrorBriefMessage"), message}};
}

// Runs the script; the answer and the error (when any) go to the caller.
void runScript(const QString &script, QVariant *result, std::optional<QVariantMap> *error)
{
    *error = std::nullopt;
    try {
        *result = vtr::runHostScript(script, MediaLibraryHost::shared());
    } catch (const vtr::HostScriptError &e) {
        *error = errorDictionary(e.number, e.message);
    } catch (const std::exception &e) {
        *error = errorDictionary(-2700, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        *error = errorDictionary(-2700, vtrLocalized("The script failed."));
    }
}

// Whether position `at` of the script is inside a quoted text.
bool insideText(const QString &script, qsizetype at)
{
    bool inText = false;
    for (qsizetype i = 0; i < at; ++i) {
        const QChar c = script.at(i);
        if (inText) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"') || c == QLatin1Char('\n'))
                inText = false;
        } else if (c == QLatin1Char('"')) {
            inText = true;
        } else if (c == QLatin1Char('-') && i + 1 < at && script.at(i + 1) == QLatin1Char('-')) {
            while (i < at && script.at(i) != QLatin1Char('\n'))
                ++i;
        }
    }
    return inText;
}

}  // namespace

VtrAppleScriptExecutor::VtrAppleScriptExecutor(const QString &script) : m_script(script) {}

std::unique_ptr<VtrAppleScriptExecutor> VtrAppleScriptExecutor::withFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VtrException(QStringLiteral("VtrAppleScriptExecutor"),
                           vtrLocalized("Couldn't read AppleScript template file \"%1\". Error = \"%2\".")
                               .arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    auto encoding = QStringConverter::encodingForData(bytes);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    const QString text = decoder.decode(bytes);
    if (text.isEmpty())
        throw VtrException(QStringLiteral("VtrAppleScriptExecutor"),
                           vtrLocalized("Couldn't read AppleScript template file \"%1\".").arg(path));
    return std::make_unique<VtrAppleScriptExecutor>(text);
}

void VtrAppleScriptExecutor::replaceTag(const QString &tag, const QString &value)
{
    if (tag.isEmpty()) return;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = m_script.indexOf(tag, from, Qt::CaseSensitive);
        if (at < 0) return;
        bool overlapsValue = false;
        for (const Range &r : m_inserted)
            if (at < r.start + r.length && at + tag.size() > r.start) overlapsValue = true;
        if (overlapsValue) {
            from = at + 1;
            continue;
        }
        const QString escaped = vtr::escapeHostScriptText(value);
        const QString inserted = insideText(m_script, at) ? escaped : QLatin1Char('"') + escaped + QLatin1Char('"');
        m_script.replace(at, tag.size(), inserted);
        const qsizetype delta = inserted.size() - tag.size();
        for (Range &r : m_inserted)
            if (r.start > at) r.start += delta;
        m_inserted.append({at, inserted.size()});
        from = at + inserted.size();
    }
}

void VtrAppleScriptExecutor::executeX()
{
    m_result = QVariant();
    if (m_script.isEmpty()) {
        m_error = std::nullopt;
        return;
    }
    runScript(m_script, &m_result, &m_error);
}

std::optional<QVariantMap> VtrAppleScriptExecutor::execute(bool onNewThread, const TickleFunction &tickle)
{
    if (!onNewThread) {
        executeX();
    } else {
        // The worker owns its half of the hand-over, so a run that outlives
        // its time-out finishes harmlessly after the caller has gone on.
        struct Shared
        {
            std::mutex lock;
            std::condition_variable ended;
            bool done = false;
            QVariant result;
            std::optional<QVariantMap> error;
        };
        auto shared = std::make_shared<Shared>();
        const QString script = m_script;
        std::thread([shared, script] {
            QVariant result;
            std::optional<QVariantMap> error;
            if (!script.isEmpty()) runScript(script, &result, &error);
            std::lock_guard lock(shared->lock);
            shared->result = result;
            shared->error = error;
            shared->done = true;
            shared->ended.notify_all();
        }).detach();

        const auto deadline = std::chrono::steady_clock::now() + timeout();
        for (;;) {
            if (tickle) tickle();
            std::unique_lock lock(shared->lock);
            if (shared->done) {
                m_result = shared->result;
                m_error = shared->error;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                m_result = QVariant();
                m_error = errorDictionary(kTimedOutError,
                                          vtrLocalized("The media library did not answer within %1 seconds.")
                                              .arg(timeout().count() / 1000.0));
                break;
            }
            shared->ended.wait_for(lock, std::chrono::milliseconds(200));
        }
    }
    if (!m_error) return std::nullopt;
    const int number = static_cast<qint16>(m_error->value(QStringLiteral("NSAppleScriptErrorNumber")).toInt() & 0xFFFF);
    if (number == -1712 || number == -1708 || number == -609) return std::nullopt;
    return m_error;
}

std::chrono::milliseconds VtrAppleScriptExecutor::timeout()
{
    return std::chrono::milliseconds(g_timeoutMs.load());
}

void VtrAppleScriptExecutor::setTimeout(std::chrono::milliseconds timeout)
{
    g_timeoutMs.store(timeout.count());
}

QString vtr::runTemplateForEachFile(const QList<QString> &paths, const QString &templateName,
                                    const QString &templateFolder, const QString &pathTag,
                                    const QList<ScriptTag> &tags, const std::function<void()> &tickle)
{
    const QString templatePath = templateFolder + QLatin1Char('/') + templateName;
    if (!QFile::exists(templatePath))
        return vtrLocalized("Couldn't find AppleScript template file \"%1\".").arg(templateName);
    QString result;
    // The library files are written once, when every file has been filed.
    MediaLibraryHost::Batch batch(MediaLibraryHost::shared());
    for (const QString &path : paths) {
        auto executor = VtrAppleScriptExecutor::withFile(templatePath);
        executor->replaceTag(pathTag, path);
        for (const ScriptTag &t : tags)
            executor->replaceTag(t.tag, t.value);
        if (auto error = executor->execute(true, tickle))
            result = error->value(QStringLiteral("NSAppleScriptErrorMessage")).toString();
    }
    try {
        batch.commit();
    } catch (const MediaLibraryHost::Failure &f) {
        result = f.message;
    }
    return result;
}
