#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

// JSON text <-> QVariant trees.
//
// Values read:   object -> QVariantMap, array -> QVariantList, string -> QString,
//                integer -> qint64, or quint64 above the qint64 range
//                (an integer beyond both -> double),
//                number with fraction or exponent -> double,
//                true/false -> bool, null -> vtr::jsonNull().
// Values written: QVariantMap/QVariantHash (keys in the map's order), QVariantList/QStringList,
//                QString, bool (true/false), every integer type (digits), float/double
//                (shortest text that reads back to the same value; integral values keep a
//                ".0" so they read back as double), vtr::jsonNull(), and a QObject* that
//                has an invokable `QVariant proxyForJson()` (written as what that answers).
//
// "No value" (a failed parse) is an invalid QVariant; JSON null is never an
// invalid QVariant. A failed write answers a null QString. Nothing here throws
// on bad input: the reason stays in the error trace until the next call.

namespace vtr {

// JSON null: a QVariant of type QMetaType::Nullptr.
QVariant jsonNull();
bool isJsonNull(const QVariant &value);

} // namespace vtr

// Error codes of the trace.
enum QorJsonErrorCode : unsigned int {
    QorJsonErrorUnsupported = 1,   // writer: value or key not writable
    QorJsonErrorBadNumber = 2,     // parser: number syntax
    QorJsonErrorParse = 3,         // parser: structure
    QorJsonErrorNotJson = 4,       // top level is not an object/array (parser), not writable (writer)
    QorJsonErrorControlChar = 5,   // unescaped control character in a string
    QorJsonErrorUnicode = 6,       // \u escapes and surrogates
    QorJsonErrorNestedTooDeep = 7, // depth limit
    QorJsonErrorIllegalEscape = 8, // unknown backslash escape
    QorJsonErrorTrailingComma = 9, // "[1,]", "{"a":1,}"
    QorJsonErrorGarbage = 10,      // text after the value
    QorJsonErrorEndOfInput = 11,   // input ended inside a value
    QorJsonErrorNilInput = 12,     // null input
};

// The error domain of every trace entry.
inline constexpr const char kQorJsonErrorDomain[] = "org.vantrel.json.ErrorDomain";

// One entry of the error trace. `underlying` is the entry that was last in the
// trace when this one was added (the chain runs from the outermost failure to
// the innermost).
struct QorJsonError
{
    QString domain;
    unsigned int code = 0;
    QString description;
    std::shared_ptr<const QorJsonError> underlying;

    // "Error Domain=<domain> Code=<code> "<description>"".
    QString toString() const;
};

class QorJsonBase
{
public:
    // The default nesting limit; 0 means no limit of the caller's own.
    static constexpr unsigned int kDefaultMaxDepth = 512;
    // Nesting beyond this is refused as "Nested too deep" even when maxDepth is 0,
    // so that hostile input cannot exhaust the stack of a parsing thread.
    static constexpr unsigned int kHardDepthLimit = 4096;

    QorJsonBase();
    virtual ~QorJsonBase();
    QorJsonBase(const QorJsonBase &) = delete;
    QorJsonBase &operator=(const QorJsonBase &) = delete;

    void addErrorWithCode(unsigned int code, const QString &description);
    void clearErrorTrace();
    // Innermost failure first, outermost last.
    const QList<QorJsonError> &errorTrace() const { return m_errorTrace; }
    // The trace as one text, as written to the log by the vtr:: helpers.
    QString errorTraceDescription() const;

    unsigned int maxDepth() const { return m_maxDepth; }
    void setMaxDepth(unsigned int maxDepth) { m_maxDepth = maxDepth; }

protected:
    // Nesting of the call in progress.
    unsigned int m_depth = 0;
    // Effective limit for the call in progress (maxDepth, capped by kHardDepthLimit).
    unsigned int effectiveMaxDepth() const;
    void replaceErrorTrace(const QList<QorJsonError> &trace) { m_errorTrace = trace; }

private:
    QList<QorJsonError> m_errorTrace;
    unsigned int m_maxDepth = kDefaultMaxDepth;
};

class QorJsonParser : public QorJsonBase
{
public:
    QorJsonParser();
    ~QorJsonParser() override;

    // An object or array; anything else fails with "Valid fragment, but not JSON".
    // An invalid QVariant on failure. A null QString is the "nil" input.
    QVariant objectWithString(const QString &text);
    // Any JSON value (also a bare string, number, boolean or null).
    QVariant fragmentWithString(const QString &text);

    // The same over UTF-8 bytes (no conversion of the whole input). A null
    // view is the "nil" input. Invalid UTF-8 inside strings becomes U+FFFD.
    QVariant objectWithUtf8(QByteArrayView utf8);
    QVariant fragmentWithUtf8(QByteArrayView utf8);

private:
    template <typename Char> friend class QorJsonScanner;
    template <typename Char> QVariant parse(const Char *begin, const Char *end, bool objectOnly);
};

class QorJsonWriter : public QorJsonBase
{
public:
    QorJsonWriter();
    ~QorJsonWriter() override;

    // Writes an object or array (or a proxy whose value is one); a null QString
    // on failure, with "Not valid type for JSON" for any other top-level value.
    QString stringWithObject(const QVariant &value);
    // Writes any writable value.
    QString stringWithFragment(const QVariant &value);

    bool sortKeys() const { return m_sortKeys; }
    void setSortKeys(bool sortKeys) { m_sortKeys = sortKeys; }
    bool humanReadable() const { return m_humanReadable; }
    void setHumanReadable(bool humanReadable) { m_humanReadable = humanReadable; }

protected:
    bool appendValue(const QVariant &value, QString &into);
    bool appendArray(const QVariantList &array, QString &into);
    bool appendArray(const QStringList &array, QString &into);
    bool appendDictionary(const QVariantMap &dictionary, QString &into);
    bool appendDictionary(const QVariantHash &dictionary, QString &into);
    bool appendString(const QString &string, QString &into);
    // Line feed plus two spaces per current depth.
    QString indent() const;

private:
    template <typename Map> bool appendMap(const Map &dictionary, QString &into);
    template <typename List> bool appendList(const List &array, QString &into);
    bool m_sortKeys = false;
    bool m_humanReadable = false;
};

// One parser and one writer behind one interface; the error trace of a failed
// call is copied from the one that failed.
class QorJSON : public QorJsonBase
{
public:
    QorJSON();
    ~QorJSON() override;

    // maxDepth() of the base class is not used: the facade's limit is the parser's.
    unsigned int maxDepth() const;
    void setMaxDepth(unsigned int maxDepth); // both parser and writer
    bool humanReadable() const;
    void setHumanReadable(bool humanReadable);
    bool sortKeys() const;
    void setSortKeys(bool sortKeys);

    QString stringWithObject(const QVariant &value);
    QVariant objectWithString(const QString &text);

    // On failure `error` (when given) receives the outermost error of the trace.
    QString stringWithObject(const QVariant &value, bool allowScalar, QorJsonError *error);
    QVariant objectWithString(const QString &text, bool allowScalar, QorJsonError *error);
    QString stringWithFragment(const QVariant &value, QorJsonError *error);
    QVariant fragmentWithString(const QString &text, QorJsonError *error);
    QString stringWithObject(const QVariant &value, QorJsonError *error);
    QVariant objectWithString(const QString &text, QorJsonError *error);

    QorJsonParser &jsonParser() { return m_parser; }
    QorJsonWriter &jsonWriter() { return m_writer; }

private:
    void copyTrace(const QorJsonBase &from, QorJsonError *error);
    QorJsonParser m_parser;
    QorJsonWriter m_writer;
};

namespace vtr {

// Compact, unsorted JSON of an object or array; a null QString on failure
// (the error trace is written to the log).
QString JSONRepresentation(const QVariant &value);
// The same for any writable value.
QString JSONFragment(const QVariant &value);
// The object or array of a JSON text; an invalid QVariant on failure (logged).
QVariant JSONValue(const QString &text);
// Any JSON value of a text.
QVariant JSONFragmentValue(const QString &text);
// JSONValue / JSONFragmentValue over UTF-8 bytes (file and wire contents).
QVariant JSONValueFromUtf8(QByteArrayView utf8);
QVariant JSONFragmentValueFromUtf8(QByteArrayView utf8);

} // namespace vtr
