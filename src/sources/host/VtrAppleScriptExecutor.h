#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Runs one library script made from a template whose named tags are replaced
// first. The scripts are interpreted by the media-library host
// (sources/host/HostScript.h).
//
// Tag values are always inserted as texts of the script language: inside a
// quoted text they are escaped, anywhere else they become a quoted text of
// their own. A value is never searched for tags again, so a file named after
// a tag stays a name.
//
// Error dictionaries carry "NSAppleScriptErrorNumber" (int) and
// "NSAppleScriptErrorMessage" (text).
class VtrAppleScriptExecutor
{
public:
    using TickleFunction = std::function<void()>;

    // The error number of a run that did not end within timeout().
    static constexpr int kTimedOutError = -1711;

    // initWithString
    explicit VtrAppleScriptExecutor(const QString &script);
    // initWithFile: the whole file as text (UTF-8, or UTF-16 with a byte-order
    // mark). Throws VtrException "VtrAppleScriptExecutor" when it cannot be
    // read or is empty.
    static std::unique_ptr<VtrAppleScriptExecutor> withFile(const QString &path);

    // Replaces every occurrence of `tag` (literal, case-sensitive).
    void replaceTag(const QString &tag, const QString &value);
    QString script() const { return m_script; }

    // Runs the script; nullopt on success, else the error dictionary. With
    // `onNewThread` the caller's thread calls `tickle` (when given) at least
    // once and then every 0.2 s until the script has ended or the time-out
    // has passed. Errors -1712, -1708 and -609 count as success.
    std::optional<QVariantMap> execute(bool onNewThread, const TickleFunction &tickle = {});
    // Runs on the calling thread; keeps the error (or none) and the result.
    void executeX();

    std::optional<QVariantMap> error() const { return m_error; }
    QVariant result() const { return m_result; }

    static std::chrono::milliseconds timeout();
    static void setTimeout(std::chrono::milliseconds timeout);

private:
    struct Range
    {
        qsizetype start;
        qsizetype length;
    };

    QString m_script;
    QList<Range> m_inserted;  // replaced values, never searched again
    std::optional<QVariantMap> m_error;
    QVariant m_result;
};

namespace vtr {

// Runs the template `templateName` of `templateFolder` once per file, with
// `pathTag` replaced by the file's path and each of `tags` by its value, on a
// worker thread while `tickle` is called. Null when every run succeeded (or
// there were no files); otherwise the message of the last failure, or the
// localized "Couldn't find AppleScript template file" text when the template
// is missing.
struct ScriptTag
{
    QString tag;
    QString value;
};
QString runTemplateForEachFile(const QList<QString> &paths, const QString &templateName,
                               const QString &templateFolder, const QString &pathTag, const QList<ScriptTag> &tags,
                               const std::function<void()> &tickle);

}  // namespace vtr
