#include "foundation/VtrString.h"

#include <QCollator>
#include <QImageReader>
#include <QLocale>
#include <QSet>
#include <QTextDocument>
#include <QUrl>
#include <QUuid>

#include <array>
#include <optional>

// ---------------------------------------------------------------------------
// Character sets
// ---------------------------------------------------------------------------

VtrCharacterSet VtrCharacterSet::fromCharacters(const QString &characters)
{
    QSet<char32_t> members;
    for (char32_t c : characters.toUcs4())
        members.insert(c);
    return VtrCharacterSet([members](char32_t c) { return members.contains(c); });
}

VtrCharacterSet VtrCharacterSet::fromRange(char32_t first, char32_t last)
{
    return VtrCharacterSet([first, last](char32_t c) { return c >= first && c <= last; });
}

VtrCharacterSet VtrCharacterSet::whitespace()
{
    return VtrCharacterSet([](char32_t c) { return c == 0x09 || QChar::category(c) == QChar::Separator_Space; });
}

VtrCharacterSet VtrCharacterSet::whitespaceAndNewlines()
{
    return VtrCharacterSet([](char32_t c) {
        return (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 ||
               QChar::category(c) == QChar::Separator_Space;
    });
}

VtrCharacterSet VtrCharacterSet::decimalDigits()
{
    return VtrCharacterSet([](char32_t c) { return QChar::category(c) == QChar::Number_DecimalDigit; });
}

VtrCharacterSet VtrCharacterSet::letters()
{
    return VtrCharacterSet([](char32_t c) { return QChar::isLetter(c) || QChar::isMark(c); });
}

VtrCharacterSet VtrCharacterSet::alphanumerics()
{
    return VtrCharacterSet([](char32_t c) { return QChar::isLetterOrNumber(c) || QChar::isMark(c); });
}

VtrCharacterSet VtrCharacterSet::punctuation()
{
    return VtrCharacterSet([](char32_t c) { return QChar::isPunct(c); });
}

VtrCharacterSet VtrCharacterSet::united(const VtrCharacterSet &other) const
{
    VtrCharacterSet a = *this;
    VtrCharacterSet b = other;
    return VtrCharacterSet([a, b](char32_t c) { return a.contains(c) || b.contains(c); });
}

VtrCharacterSet VtrCharacterSet::inverted() const
{
    VtrCharacterSet a = *this;
    return VtrCharacterSet([a](char32_t c) { return !a.contains(c); });
}

namespace vtr {

namespace {

constexpr char16_t kBackslash = u'\\';

// ---------------------------------------------------------------------------
// Encodings
// ---------------------------------------------------------------------------

// Mac OS Roman 0x80-0xFF; 0x00-0x7F is ASCII.
constexpr std::array<char16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

bool hasUnpairedSurrogate(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= s.size() || !s.at(i + 1).isLowSurrogate()) return true;
            ++i;
        } else if (c.isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

QByteArray utf16Bytes(const QString &s, bool bigEndian)
{
    QByteArray out;
    out.resize(s.size() * 2);
    char *p = out.data();
    for (QChar c : s) {
        const char16_t u = c.unicode();
        const char hi = char(u >> 8);
        const char lo = char(u & 0xFF);
        *p++ = bigEndian ? hi : lo;
        *p++ = bigEndian ? lo : hi;
    }
    return out;
}

QString utf16String(const QByteArray &data, bool bigEndian)
{
    const qsizetype units = data.size() / 2;
    QString out(units, Qt::Uninitialized);
    const auto *b = reinterpret_cast<const uchar *>(data.constData());
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t u =
            bigEndian ? char16_t((b[2 * i] << 8) | b[2 * i + 1]) : char16_t((b[2 * i + 1] << 8) | b[2 * i]);
        out[i] = QChar(u);
    }
    return out;
}

constexpr bool kHostIsBigEndian = Q_BYTE_ORDER == Q_BIG_ENDIAN;

// Lossless encoding, or nothing when a character has no form in `encoding`.
std::optional<QByteArray> encode(const QString &s, VtrStringEncoding encoding)
{
    switch (encoding) {
    case VtrStringEncoding::ASCII:
    case VtrStringEncoding::ISOLatin1:
    case VtrStringEncoding::MacOSRoman: {
        // Legacy encodings hold precomposed letters only.
        const QString composed = s.normalized(QString::NormalizationForm_C);
        QByteArray out;
        out.reserve(composed.size());
        for (QChar c : composed) {
            const char16_t u = c.unicode();
            if (u < 0x80) {
                out.append(char(u));
            } else if (encoding == VtrStringEncoding::ISOLatin1 && u < 0x100) {
                out.append(char(u));
            } else if (encoding == VtrStringEncoding::MacOSRoman) {
                const auto *it = std::find(kMacRomanHigh.begin(), kMacRomanHigh.end(), u);
                if (it == kMacRomanHigh.end()) return std::nullopt;
                out.append(char(0x80 + (it - kMacRomanHigh.begin())));
            } else {
                return std::nullopt;
            }
        }
        return out;
    }
    case VtrStringEncoding::UTF8:
        if (hasUnpairedSurrogate(s)) return std::nullopt;
        return s.toUtf8();
    case VtrStringEncoding::UTF16:
        if (hasUnpairedSurrogate(s)) return std::nullopt;
        return utf16Bytes(QString(QChar(0xFEFF)) + s, kHostIsBigEndian);
    case VtrStringEncoding::UTF16LE:
    case VtrStringEncoding::UTF16BE:
        if (hasUnpairedSurrogate(s)) return std::nullopt;
        return utf16Bytes(s, encoding == VtrStringEncoding::UTF16BE);
    }
    return std::nullopt;
}

QString decode(const QByteArray &data, VtrStringEncoding encoding)
{
    switch (encoding) {
    case VtrStringEncoding::ASCII:
    case VtrStringEncoding::ISOLatin1:
        return QString::fromLatin1(data);
    case VtrStringEncoding::MacOSRoman: {
        QString out(data.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i) {
            const uchar b = uchar(data.at(i));
            out[i] = QChar(b < 0x80 ? char16_t(b) : kMacRomanHigh[b - 0x80]);
        }
        return out;
    }
    case VtrStringEncoding::UTF8:
        return QString::fromUtf8(data);
    case VtrStringEncoding::UTF16: {
        QString s = utf16String(data, kHostIsBigEndian);
        if (s.startsWith(QChar(0xFEFF)))
            s.remove(0, 1);
        else if (s.startsWith(QChar(0xFFFE)))
            s = utf16String(data.mid(2), !kHostIsBigEndian);
        return s;
    }
    case VtrStringEncoding::UTF16LE:
    case VtrStringEncoding::UTF16BE:
        return utf16String(data, encoding == VtrStringEncoding::UTF16BE);
    }
    return QString();
}

// Non-ASCII characters lose their accents where they have a base letter;
// what is left becomes "?".
QString lossyAscii(const QString &s)
{
    const QString decomposed = s.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar c = decomposed.at(i);
        if (c.unicode() < 0x80) {
            out.append(c);
        } else if (c.isMark()) {
            continue;
        } else {
            out.append(QLatin1Char('?'));
            if (c.isHighSurrogate() && i + 1 < decomposed.size() && decomposed.at(i + 1).isLowSurrogate()) ++i;
        }
    }
    return out;
}

QString hexUnit(char16_t u)
{
    return QStringLiteral("U%1").arg(uint(u), 4, 16, QLatin1Char('0')).toUpper();
}

// ---------------------------------------------------------------------------
// POSIX path helpers
// ---------------------------------------------------------------------------

// Repeated "/" collapsed and a trailing "/" removed (unless the path is "/").
QString fixSlashes(const QString &path)
{
    QString out;
    out.reserve(path.size());
    for (QChar c : path) {
        if (c == QLatin1Char('/') && out.endsWith(QLatin1Char('/'))) continue;
        out.append(c);
    }
    if (out.size() > 1 && out.endsWith(QLatin1Char('/'))) out.chop(1);
    return out;
}

// The last component as posixLastPathComponent gives it, read from the end of
// `path`: only the component and the separators after it are looked at, so
// the name of an item deep in a tree costs what the name is long.
template <typename IsSeparator> QString lastComponentFromEnd(QStringView path, IsSeparator isSeparator)
{
    qsizetype end = path.size();
    while (end > 0 && isSeparator(path.at(end - 1)))
        --end;
    if (end == 0) return path.isEmpty() ? QString(QLatin1String("")) : QStringLiteral("/");
    qsizetype start = end;
    while (start > 0 && !isSeparator(path.at(start - 1)))
        --start;
    return path.sliced(start, end - start).toString();
}

bool isPosixSeparator(QChar c)
{
    return c == QLatin1Char('/');
}

// Windows paths take either separator (a "/" is turned into a backslash).
bool isWindowsSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == kBackslash;
}

// Index of the "." that starts the extension of an already fixed path, or -1.
qsizetype extensionDot(const QString &fixed)
{
    if (fixed.size() <= 1) return -1;
    const qsizetype slash = fixed.lastIndexOf(QLatin1Char('/'));
    const qsizetype componentStart = slash + 1;
    const qsizetype dot = fixed.lastIndexOf(QLatin1Char('.'));
    if (dot <= componentStart - 1 || dot == componentStart) return -1; // no dot in the last component, or a dot file
    if (dot == fixed.size() - 1 && dot - 1 == componentStart && fixed.at(componentStart) == QLatin1Char('.'))
        return -1; // ".."
    return dot;
}

bool isDriveRoot(const QString &s)
{
    return s.size() == 3 && s.at(1) == QLatin1Char(':') && (s.at(2) == kBackslash || s.at(2) == QLatin1Char('/'));
}

} // namespace

// ---------------------------------------------------------------------------
// POSIX paths
// ---------------------------------------------------------------------------

QStringList posixPathComponents(const QString &path)
{
    QStringList result;
    if (path.isEmpty()) return result;
    if (path.startsWith(QLatin1Char('/'))) result.append(QStringLiteral("/"));
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        result.append(part);
    if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) result.append(QStringLiteral("/"));
    return result;
}

QString posixLastPathComponent(const QString &path)
{
    return lastComponentFromEnd(path, isPosixSeparator);
}

QString posixPathExtension(const QString &path)
{
    const QString fixed = fixSlashes(path);
    const qsizetype dot = extensionDot(fixed);
    return dot < 0 ? QString(QLatin1String("")) : fixed.mid(dot + 1);
}

QString posixAppendPathComponent(const QString &path, const QString &component)
{
    QString joined;
    if (path.isEmpty())
        joined = component;
    else if (component.isEmpty() || path.endsWith(QLatin1Char('/')))
        joined = path + component;
    else
        joined = path + QLatin1Char('/') + component;
    return fixSlashes(joined);
}

QString posixAppendPathExtension(const QString &path, const QString &extension)
{
    const QString fixed = fixSlashes(path);
    if (fixed.isEmpty() || fixed == QLatin1String("/") || extension.contains(QLatin1Char('/'))) return QString();
    return fixed + QLatin1Char('.') + extension;
}

QString posixDeletingLastPathComponent(const QString &path)
{
    const QString fixed = fixSlashes(path);
    if (fixed.isEmpty() || fixed == QLatin1String("/")) return fixed;
    const qsizetype slash = fixed.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString(QLatin1String(""));
    if (slash == 0) return QStringLiteral("/");
    return fixed.left(slash);
}

QString posixDeletingPathExtension(const QString &path)
{
    const QString fixed = fixSlashes(path);
    const qsizetype dot = extensionDot(fixed);
    return dot < 0 ? fixed : fixed.left(dot);
}

bool isPathBelow(QStringView path, QStringView folder)
{
    if (folder.isEmpty() || !path.startsWith(folder)) return false;
    return folder.endsWith(QLatin1Char('/')) ||
           (path.size() > folder.size() && path.at(folder.size()) == QLatin1Char('/'));
}

qsizetype utf8Length(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit < 0x80) {
            bytes += 1;
        } else if (unit < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;
        }
    }
    return bytes;
}

namespace {

// The UTF-16 units of the character that starts at `i`.
qsizetype characterUnits(QStringView text, qsizetype i)
{
    return text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
}

// The longest beginning of `text` of whole characters that takes at most
// `bytes` in UTF-8; it costs what it keeps, however long `text` is.
QString leadingBytes(const QString &text, qsizetype bytes)
{
    qsizetype kept = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype units = characterUnits(text, i);
        const qsizetype size = utf8Length(QStringView(text).mid(i, units));
        if (kept + size > bytes) return text.left(i);
        kept += size;
        i += units;
    }
    return text;
}

} // namespace

QString numberedName(const QString &base, const QString &extension, qint64 number)
{
    const QString suffix = QLatin1Char('-') + QString::number(number);
    QString tail = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;
    const qsizetype fixed = utf8Length(suffix);
    if (utf8Length(base) + fixed + utf8Length(tail) <= kMaxLocalNameBytes) return base + suffix + tail;
    // The base keeps its first character before the extension gives way.
    const qsizetype first = base.isEmpty() ? 0 : utf8Length(QStringView(base).left(characterUnits(base, 0)));
    if (utf8Length(tail) > kMaxLocalNameBytes - fixed - first) {
        tail = leadingBytes(tail, kMaxLocalNameBytes - fixed - first);
        if (tail.size() == 1) tail.clear();
    }
    return leadingBytes(base, kMaxLocalNameBytes - fixed - utf8Length(tail)) + suffix + tail;
}

QString posixPathWithComponents(const QStringList &components)
{
    QString result(QLatin1String(""));
    for (const QString &component : components)
        result = posixAppendPathComponent(result, fixSlashes(component));
    return result;
}

// ---------------------------------------------------------------------------
// Windows paths
// ---------------------------------------------------------------------------

QString pathFromWindowsPath(const QString &path)
{
    QString out = path;
    out.replace(kBackslash, QLatin1Char('/'));
    if (out.size() < 2 || isDriveRoot(out)) return out;
    if (out.endsWith(QLatin1Char('/'))) out.chop(1);
    return out;
}

QString windowsPathFromPath(const QString &path)
{
    QString out = path;
    out.replace(QLatin1Char('/'), kBackslash);
    return out;
}

QString windowsPathWithComponents(const QStringList &components)
{
    // Components may carry Windows separators of their own (a drive root such
    // as "E:\" from windowsPathComponents): join them in POSIX form so the
    // result never holds a doubled separator.
    QStringList posix;
    posix.reserve(components.size());
    for (const QString &component : components)
        posix.append(pathFromWindowsPath(component));
    return windowsPathFromPath(posixPathWithComponents(posix));
}

void decomposeWindowsPath(const QString &path, QString *outDrive, QString *outPath)
{
    const QString windows = windowsPathFromPath(path);
    QString drive(QLatin1String(""));
    QString rest;
    if (const qsizetype length = windowsDriveLength(windows)) {
        drive = windows.left(length);
        drive[0] = drive.at(0).toUpper();
        rest = windows.mid(length);
    } else {
        rest = windows;
    }
    if (rest.isNull()) rest = QString(QLatin1String(""));
    if (outDrive) *outDrive = drive;
    if (outPath) *outPath = rest;
}

QStringList windowsPathComponents(const QString &path)
{
    QString drive;
    QString rest;
    decomposeWindowsPath(path, &drive, &rest);
    QStringList components = posixPathComponents(pathFromWindowsPath(rest));
    if (!drive.isEmpty()) components.prepend(drive);
    return components;
}

qsizetype windowsDriveLength(QStringView path)
{
    return path.size() >= 3 && path.at(1) == QLatin1Char(':') && isWindowsSeparator(path.at(2)) ? 3 : 0;
}

QString windowsPathPrefixForChildren(const QString &path)
{
    const QString joined = windowsStringByAppendingPathComponent(path, QStringLiteral("_"));
    return joined.left(joined.size() - 1);
}

QString windowsLastPathComponent(const QString &path)
{
    return windowsLastPathComponent(QStringView(path));
}

QString windowsLastPathComponent(QStringView path)
{
    return lastComponentFromEnd(path.sliced(windowsDriveLength(path)), isWindowsSeparator);
}

QString windowsPathExtension(const QString &path)
{
    return posixPathExtension(pathFromWindowsPath(path));
}

QString windowsStringByAppendingPathComponent(const QString &path, const QString &component)
{
    QString drive;
    QString rest;
    decomposeWindowsPath(path, &drive, &rest);
    if (rest.isEmpty())
        rest = component;
    else
        rest = windowsPathFromPath(posixAppendPathComponent(pathFromWindowsPath(rest), component));
    return drive + rest;
}

QString windowsStringByAppendingPathExtension(const QString &path, const QString &extension)
{
    const QString appended = posixAppendPathExtension(pathFromWindowsPath(path), extension);
    return appended.isNull() ? QString() : windowsPathFromPath(appended);
}

QString windowsStringByDeletingLastPathComponent(const QString &path)
{
    QString drive;
    QString rest;
    decomposeWindowsPath(path, &drive, &rest);
    return drive + windowsPathFromPath(posixDeletingLastPathComponent(pathFromWindowsPath(rest)));
}

QString windowsStringByDeletingPathExtension(const QString &path)
{
    return windowsPathFromPath(posixDeletingPathExtension(pathFromWindowsPath(path)));
}

// ---------------------------------------------------------------------------
// Valid names
// ---------------------------------------------------------------------------

const VtrCharacterSet &windowsFilenameCharacterSet()
{
    // U+0000 belongs here too: a NUL would cut a local name short.
    static const VtrCharacterSet set =
        VtrCharacterSet::fromRange(0x00, 0x1F).united(VtrCharacterSet::fromCharacters(QStringLiteral("\\/:*?\"<>|")));
    return set;
}

const VtrCharacterSet &windowsPathnameCharacterSet()
{
    static const VtrCharacterSet set =
        VtrCharacterSet::fromRange(0x00, 0x1F).united(VtrCharacterSet::fromCharacters(QStringLiteral("/:*?\"<>|")));
    return set;
}

QString replaceInvalidChars(const QString &s, const VtrCharacterSet &set, const QString &replacement)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        if (set.contains(c.unicode()))
            out.append(replacement);
        else
            out.append(c);
    }
    return out;
}

QString windowsValidFilename(const QString &name)
{
    return windowsValidFilenameUsingASCIIOnly(name, false);
}

QString windowsValidFilenameUsingASCIIOnly(const QString &name, bool asciiOnly)
{
    const QString source = asciiOnly ? lossyAscii(name) : name;
    QString out = replaceInvalidChars(source, windowsFilenameCharacterSet(), QStringLiteral("_"));
    if (out.endsWith(QLatin1Char('.')) || out.endsWith(QLatin1Char(' '))) out[out.size() - 1] = QLatin1Char('_');
    return out;
}

QString windowsValidFilenameByTranscodingNonASCIIChars(const QString &name)
{
    static const QString reserved = QStringLiteral("\"*/:<>?\\|");
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u > 0x7E)
            out.append(hexUnit(u));
        else if (u < 0x20 || reserved.contains(c))
            out.append(QLatin1Char('_'));
        else
            out.append(c);
    }
    if (out.endsWith(QLatin1Char('.'))) out[out.size() - 1] = QLatin1Char('_');
    return out;
}

QString windowsValidPathname(const QString &path)
{
    QString drive;
    QString rest;
    decomposeWindowsPath(path, &drive, &rest);
    return drive + replaceInvalidChars(rest, windowsPathnameCharacterSet(), QStringLiteral("_"));
}

QString stringByTranscodingNonASCIIChars(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u > 0x7E)
            out.append(hexUnit(u));
        else
            out.append(c);
    }
    return out;
}

QString stringByMakingValidFilename(const QString &name)
{
    if (hasUnpairedSurrogate(name)) return name;
    QString out = name.normalized(QString::NormalizationForm_D).normalized(QString::NormalizationForm_C);
    out.remove(QLatin1Char(':'));
    out.remove(QLatin1Char('/'));
    // A NUL would end the name at the file system.
    out.remove(QChar(0));
    return out;
}

bool isDotFileName(const QString &name)
{
    if (!name.startsWith(QLatin1Char('.'))) return false;
    return name.size() <= 2 || name.at(1) != QLatin1Char('.');
}

QString stringByDeletingImageExtension(const QString &name)
{
    // Function-local statics are initialised once even when several threads
    // arrive together; the reader's format list is safe to ask from any thread.
    static const QSet<QString> imageExtensions = [] {
        QSet<QString> set;
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            set.insert(QString::fromLatin1(format).toUpper());
        return set;
    }();
    if (imageExtensions.contains(posixPathExtension(name).toUpper())) return posixDeletingPathExtension(name);
    return name;
}

// ---------------------------------------------------------------------------
// Other text operations
// ---------------------------------------------------------------------------

bool containsString(const QString &s, const QString &needle)
{
    return containsString(s, needle, Qt::CaseSensitive);
}

bool containsString(const QString &s, const QString &needle, Qt::CaseSensitivity cs)
{
    if (needle.isEmpty()) return false;
    return s.contains(needle, cs);
}

bool hasPrefixCaseInsensitive(const QString &s, const QString &affix)
{
    if (affix.isNull() || affix.size() > s.size()) return false;
    return s.startsWith(affix, Qt::CaseInsensitive);
}

bool hasSuffixCaseInsensitive(const QString &s, const QString &affix)
{
    if (affix.isNull() || affix.size() > s.size()) return false;
    return s.endsWith(affix, Qt::CaseInsensitive);
}

QString stringByRemovingCharactersFromSet(const QString &s, const VtrCharacterSet *set)
{
    if (!set) return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            if (!set->contains(QChar::surrogateToUcs4(c, s.at(i + 1)))) {
                out.append(c);
                out.append(s.at(i + 1));
            }
            ++i;
        } else if (!set->contains(c.unicode())) {
            out.append(c);
        }
    }
    return out;
}

qint64 countOfString(const QString &s, const QString &needle)
{
    if (needle.isEmpty()) return 0;
    qint64 count = 0;
    for (qsizetype at = s.indexOf(needle); at >= 0; at = s.indexOf(needle, at + 1))
        ++count;
    return count;
}

QString convertToEncoding(const QString &s, VtrStringEncoding encoding)
{
    const std::optional<QByteArray> bytes = encode(s, encoding);
    if (!bytes) return s;
    return decode(*bytes, encoding);
}

namespace {

// The collator cannot be told to ignore diacritics, so both sides are folded
// first: compatibility decomposition (width and composition), marks removed,
// case folded.
QString foldForComparison(const QString &s)
{
    const QString decomposed = s.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (QChar c : decomposed) {
        if (!c.isMark()) out.append(c);
    }
    return out.toCaseFolded();
}

} // namespace

bool equalStringsIgnoringDiacritical(const QString &a, const QString &b)
{
    return foldForComparison(a) == foldForComparison(b);
}

int compareStringsIgnoringDiacritical(const QString &a, const QString &b)
{
    // QCollator is reentrant, not shareable between threads: one per thread.
    thread_local QCollator collator = [] {
        QCollator c{QLocale::c()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const QString fa = foldForComparison(a);
    const QString fb = foldForComparison(b);
    if (fa == fb) return 0;
    const int order = collator.compare(fa, fb);
    if (order != 0) return order < 0 ? -1 : 1;
    return fa < fb ? -1 : 1;
}

QString escapeQuotesForCSV(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return out;
}

QString stringForFilterPredicate(const QString &s)
{
    // The backslash goes first, or a trailing backslash in the input would
    // escape the closing quote of the filter text.
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'\\':
            out.append(QLatin1String("\\x5C"));
            break;
        case u'\'':
            out.append(QLatin1String("\\x27"));
            break;
        case u'"':
            out.append(QLatin1String("\\x22"));
            break;
        case u'(':
            out.append(QLatin1String("\\x28"));
            break;
        case u')':
            out.append(QLatin1String("\\x29"));
            break;
        case u'?':
            out.append(QLatin1String("\\x3F"));
            break;
        default:
            out.append(c);
        }
    }
    return out;
}

QString isURL(const QString &s)
{
    if (s.isEmpty()) return QString();
    if (s.indexOf(QLatin1String("://")) > 0) {
        const QUrl url(s, QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty()) return QString();
        if (url.scheme().compare(QLatin1String("telnet"), Qt::CaseInsensitive) == 0) return QString();
        return s;
    }
    if (s.indexOf(QLatin1Char('.')) <= 0) return QString();
    if (hasPrefixCaseInsensitive(s, QStringLiteral("mailto:")) || hasPrefixCaseInsensitive(s, QStringLiteral("aim:")))
        return s;
    const QString formed = QStringLiteral("http://") + s;
    const QUrl url(formed, QUrl::StrictMode);
    if (!url.isValid()) return QString();
    const QString host = url.host();
    if (host.isEmpty()) return QString();
    const qsizetype firstDot = host.indexOf(QLatin1Char('.'));
    const qsizetype lastDot = host.lastIndexOf(QLatin1Char('.'));
    if (firstDot < 0 || firstDot == lastDot) return QString();
    if (host.left(firstDot).toLower() != QLatin1String("www")) return QString();
    if (!isTLD(host.mid(lastDot + 1))) return QString();
    return formed;
}

bool isTLD(const QString &s)
{
    static const QSet<QString> domains = [] {
        const char *const names =
            "ad ae af ag ai al am an ao aq ar as at au aw ax az ba bb bd be bf bg bh bi bj bm bn bo br bs bt bv bw by "
            "bz ca cc cd cf cg ch ci ck cl cm cn co cr cs cu cv cx cy cz de dj dk dm do dz ec ee eg eh er es et fi fj "
            "fk fm fo fr fx ga gb gd ge gf gh gi gl gm gn gp gq gr gs gt gu gw gy hk hm hn hr ht hu id ie il in io iq "
            "ir is it jm jo jp ke kg kh ki km kn kp kr kw ky kz la lb lc li lk lr ls lt lu lv ly ma mc md mg mh mk ml "
            "mm mn mo mp mq mr ms mt mu mv mw mx my mz na nc ne nf ng ni nl no np nr nu nz om pa pe pf pg ph pk pl pm "
            "pn pr ps pt pw py qa re ro ru rw sa sb sc sd se sg sh si sj sk sl sm sn so sr st su sv sy sz tc td tf tg "
            "th tj tk tl tm tn to tp tr tt tv tw tz ua ug uk um us uy uz va vc ve vg vi vn vu wf ws ye yt yu za zm zr "
            "zw biz com edu gov int mil net org pro aero arpa coop info name nato";
        QSet<QString> set;
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' ')))
            set.insert(name);
        return set;
    }();
    if (s.isEmpty()) return false;
    return domains.contains(s.toLower());
}

QString urlEncodedString(const QString &s)
{
    // "%" must go too, or the text cannot be decoded again; "#", "[" and "]"
    // would end or break the query the text is put into.
    static const QByteArray alwaysEscaped = QByteArrayLiteral(" \"<>\\^`{|}%#[]");
    static const QByteArray alsoEscaped = QByteArrayLiteral("&+'\"");
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = s.toUtf8();
    QString out;
    out.reserve(utf8.size());
    for (char ch : utf8) {
        const uchar b = uchar(ch);
        if (b <= 0x20 || b >= 0x7F || alwaysEscaped.contains(ch) || alsoEscaped.contains(ch)) {
            out.append(QLatin1Char('%'));
            out.append(QLatin1Char(hex[b >> 4]));
            out.append(QLatin1Char(hex[b & 0xF]));
        } else {
            out.append(QLatin1Char(ch));
        }
    }
    return out;
}

QString hexStringFromNumber(qint64 number)
{
    return QStringLiteral("0x") + hexStringFromNumberNoLeading0x(number);
}

QString hexStringFromNumberNoLeading0x(qint64 number)
{
    return QString::number(quint32(quint64(number) & 0xFFFFFFFFu), 16);
}

quint32 numberFromHexString(const QString &s)
{
    qsizetype i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    if (i + 1 < s.size() && s.at(i) == QLatin1Char('0') &&
        (s.at(i + 1) == QLatin1Char('x') || s.at(i + 1) == QLatin1Char('X')))
        i += 2;
    quint64 value = 0;
    for (; i < s.size(); ++i) {
        const char16_t u = s.at(i).unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        if (digit < 0) break;
        value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFu) value = 0x100000000ull; // keeps saturating however many digits follow
    }
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : quint32(value);
}

QString uuidAsString()
{
    const QUuid uuid = QUuid::createUuid();
    if (uuid.isNull()) return QString();
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QString stringWithNewUUID()
{
    return uuidAsString();
}

QString flattenHTML(const QString &html)
{
    if (html.isEmpty()) return html;
    // Short texts were handed to the reader as Mac OS Roman, longer ones as
    // UTF-16; a text that has no form there is answered unread.
    if (!encode(html, html.size() < 4 ? VtrStringEncoding::MacOSRoman : VtrStringEncoding::UTF16)) return html;
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

QString stringWithMacLineEndings(const QString &s)
{
    QString out = s;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return out;
}

QString stringWithWindowsLineEndings(const QString &s)
{
    QString out = s;
    out.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return out;
}

QByteArray dataWithWindowsLineEndings(const QString &s)
{
    QString text = stringWithWindowsLineEndings(s);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return *encode(text, VtrStringEncoding::UTF16);
}

QString convertNewlinesToReturns(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    return out;
}

QString convertReturnsToNewlines(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QString convertLineEndingsToParagraphSeparator(const QString &s)
{
    const QString separator(QChar::ParagraphSeparator);
    QString out = s;
    out.replace(QLatin1String("\r\n"), separator);
    out.replace(QLatin1String("\r"), separator);
    out.replace(QLatin1String("\n"), separator);
    return out;
}

QString convertParagraphSeparatorToLineEndings(const QString &s)
{
    QString out = s;
    out.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return out;
}

QByteArray dataUnicodeNoBOMLE(const QString &s)
{
    return utf16Bytes(s, false);
}

QByteArray dataUnicodeNoBOMBE(const QString &s)
{
    return utf16Bytes(s, true);
}

QString stringWithWindowsUnicodeData(const QByteArray &data)
{
    QString s = utf16String(data, !kHostIsBigEndian);
    if (s.startsWith(QChar(0xFEFF))) s.remove(0, 1);
    return s;
}

char16_t *swapUTF16Units(char16_t *units, qint64 count)
{
    for (qint64 i = 0; i < count; ++i)
        units[i] = char16_t((units[i] << 8) | (units[i] >> 8));
    return units;
}

} // namespace vtr
