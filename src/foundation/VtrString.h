#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// String helpers shared by the whole system: Windows-style device paths
// ("E:\Music\x.mp3"), names that Windows accepts, the POSIX path rules the
// rest of the code relies on, and small text conversions.
//
// Every function returns a new value and leaves its argument unchanged, keeps
// no state (apart from the character and extension sets, built once) and may
// run on any thread. "nil" strings are null QStrings (QString()).

// A set of characters, tested per code point. Cheap to copy; immutable.
class VtrCharacterSet
{
public:
    using Predicate = std::function<bool(char32_t)>;

    VtrCharacterSet() = default; // the empty set
    explicit VtrCharacterSet(Predicate contains) : m_contains(std::move(contains)) {}

    // Every code point of `characters` (surrogate pairs count as one).
    static VtrCharacterSet fromCharacters(const QString &characters);
    // The closed range [first, last].
    static VtrCharacterSet fromRange(char32_t first, char32_t last);
    static VtrCharacterSet whitespace();            // spaces and tabs (Unicode Zs plus U+0009)
    static VtrCharacterSet whitespaceAndNewlines(); // whitespace plus U+000A-U+000D, U+0085, U+2028, U+2029
    static VtrCharacterSet decimalDigits();         // Unicode Nd
    static VtrCharacterSet letters();               // Unicode L* and M*
    static VtrCharacterSet alphanumerics();         // Unicode L*, M* and N*
    static VtrCharacterSet punctuation();           // Unicode P*

    bool contains(char32_t c) const { return m_contains && m_contains(c); }
    VtrCharacterSet united(const VtrCharacterSet &other) const;
    VtrCharacterSet inverted() const;

private:
    Predicate m_contains;
};

// Text encodings understood by convertToEncoding and the HTML reader.
// UTF16 is the platform's 16-bit Unicode encoding: host byte order, and a
// byte-order mark in front when encoding.
enum class VtrStringEncoding { ASCII, ISOLatin1, MacOSRoman, UTF8, UTF16, UTF16LE, UTF16BE };

namespace vtr {

// ---------------------------------------------------------------------------
// POSIX path rules (the Mac's NSString path operations, "/" separated).
// - Components: a leading "/" is a component of its own, as is a trailing
//   "/" ("/a/b/" gives "/", "a", "b", "/"); repeated separators count once.
// - Last component: ignores trailing separators ("/a/b/" gives "b"; "/" gives
//   "/"; "" gives "").
// - Extension: what follows the last "." of the last component, unless that
//   dot starts the component (".profile" has none); "a." has the empty one.
// - Appending a component joins with exactly one "/" and drops trailing
//   separators of the result; repeated separators collapse.
// - Deleting the last component keeps a leading "/" ("/a" gives "/"; "a"
//   gives ""). Deleting the extension keeps dot files whole.
// ---------------------------------------------------------------------------
QStringList posixPathComponents(const QString &path);
QString posixLastPathComponent(const QString &path);
QString posixPathExtension(const QString &path);
QString posixAppendPathComponent(const QString &path, const QString &component);
// Null when `extension` cannot be an extension (it holds "/", or the path's
// last component is empty or "/").
QString posixAppendPathExtension(const QString &path, const QString &extension);
QString posixDeletingLastPathComponent(const QString &path);
QString posixDeletingPathExtension(const QString &path);
// Joins components with "/", a leading "/" component making the path
// absolute; empty components are skipped.
QString posixPathWithComponents(const QStringList &components);
// True when `path` lies inside `folder`, compared as text: it starts with
// the folder and a "/" ("/a/b" is inside "/a" and "/a/", "/ab" is not).
// Nothing is inside "".
bool isPathBelow(QStringView path, QStringView folder);

// ---------------------------------------------------------------------------
// Local file names
// ---------------------------------------------------------------------------

// Bytes of the UTF-8 form of `text`, counted without making it. A lone
// surrogate counts as the three bytes of a replacement character: never
// fewer than an encoder writes for it.
qsizetype utf8Length(QStringView text);

// Longest file name (in UTF-8 bytes) the common Linux file systems take.
inline constexpr qsizetype kMaxLocalNameBytes = 255;

// "<base>-<number>", then "." and `extension` when there is one: the name a
// folder gives a file whose name it holds already. It never takes more than
// kMaxLocalNameBytes in UTF-8: the base gives way from its end, whole
// characters at a time (never half of a surrogate pair), and only a base of
// one character lets the extension give way too; the number stays.
QString numberedName(const QString &base, const QString &extension, qint64 number);

// ---------------------------------------------------------------------------
// Windows-style paths: backslash separators and an optional 3-character
// drive prefix (any character, ":" and a backslash, such as "E:\").
// ---------------------------------------------------------------------------

// Backslashes become "/", then one trailing "/" goes, except from a drive
// root ("C:\" gives "C:/") or a string shorter than 2 ("\" gives "/").
QString pathFromWindowsPath(const QString &path);
// Every "/" becomes a backslash.
QString windowsPathFromPath(const QString &path);
QString windowsPathWithComponents(const QStringList &components);
// Splits `path` (after windowsPathFromPath) into the drive, upper-cased
// ("e:\" gives "E:\"), or "" when there is none, and the rest. Either out
// pointer may be null. The rest is never null.
void decomposeWindowsPath(const QString &path, QString *outDrive, QString *outPath);
// 3 when `path` begins with a drive ("E:\", "e:/"), else 0.
qsizetype windowsDriveLength(QStringView path);
// The drive (when any) first, then the POSIX components of the rest.
QStringList windowsPathComponents(const QString &path);
// The last component of the rest; the drive is never returned ("E:\" gives "").
// Reads only the component and what follows it.
QString windowsLastPathComponent(const QString &path);
QString windowsLastPathComponent(QStringView path);
QString windowsPathExtension(const QString &path);
// When the rest is empty the component is taken as given, unconverted.
QString windowsStringByAppendingPathComponent(const QString &path, const QString &component);
// What windowsStringByAppendingPathComponent(path, name) puts in front of any
// one plain name (not empty, no separator): made once for a folder, it gives
// the paths of the folder's items at the cost of their names.
QString windowsPathPrefixForChildren(const QString &path);
QString windowsStringByAppendingPathExtension(const QString &path, const QString &extension);
QString windowsStringByDeletingLastPathComponent(const QString &path);
QString windowsStringByDeletingPathExtension(const QString &path);

// ---------------------------------------------------------------------------
// Valid names
// ---------------------------------------------------------------------------

// \ / : * ? " < > | and U+0000-U+001F. Built once, shared, thread-safe.
const VtrCharacterSet &windowsFilenameCharacterSet();
// The same without the backslash.
const VtrCharacterSet &windowsPathnameCharacterSet();

// Every UTF-16 unit that belongs to `set` replaced by `replacement`.
QString replaceInvalidChars(const QString &s, const VtrCharacterSet &set, const QString &replacement);
QString windowsValidFilename(const QString &name);
// With `asciiOnly`, non-ASCII characters first lose their accents or become
// "?" (and so "_"). Members of the file-name set become "_", and a trailing
// "." or " " becomes "_".
QString windowsValidFilenameUsingASCIIOnly(const QString &name, bool asciiOnly);
// 7-bit result: units above U+007E become "U%04X", controls and reserved
// characters "_", a trailing "." becomes "_".
QString windowsValidFilenameByTranscodingNonASCIIChars(const QString &name);
// Drive kept, rest cleaned with the path-name set (backslashes stay).
QString windowsValidPathname(const QString &path);
// Units outside U+0020-U+007E become "U%04X".
QString stringByTranscodingNonASCIIChars(const QString &s);
// Through decomposed Unicode and back to composed, without ":", "/" and NUL;
// `name` itself when it is not valid UTF-16.
QString stringByMakingValidFilename(const QString &name);
// ".", "..", ".x" are dot-file names; "..x", "x" and "" are not.
bool isDotFileName(const QString &name);
// Drops the extension when it names an image format the image reader knows.
QString stringByDeletingImageExtension(const QString &name);

// ---------------------------------------------------------------------------
// Other text operations
// ---------------------------------------------------------------------------

// False for a null or empty needle (as the Mac's range search answers).
bool containsString(const QString &s, const QString &needle);
bool containsString(const QString &s, const QString &needle, Qt::CaseSensitivity cs);
// Case-folded comparison of the receiver's start (end) with `affix`; false
// for a null affix or one longer than `s`.
bool hasPrefixCaseInsensitive(const QString &s, const QString &affix);
bool hasSuffixCaseInsensitive(const QString &s, const QString &affix);
// Without the code points of `set`; `s` itself when `set` is null.
QString stringByRemovingCharactersFromSet(const QString &s, const VtrCharacterSet *set);
// Overlapping matches count ("aaa" holds "aa" twice); 0 for an empty needle.
qint64 countOfString(const QString &s, const QString &needle);
// Encoded without loss and decoded again; a copy of `s` when it cannot be.
QString convertToEncoding(const QString &s, VtrStringEncoding encoding);
// Equal (or ordered) with case, diacritics, width and composition ignored.
bool equalStringsIgnoringDiacritical(const QString &a, const QString &b);
int compareStringsIgnoringDiacritical(const QString &a, const QString &b);
// Double quotes doubled, "\n" and "\r" each become a space.
QString escapeQuotesForCSV(const QString &s);
// Backslash, ' " ( ) ? written as "\x5C", "\x27", "\x22", "\x28", "\x29",
// "\x3F", so the text stays inside a quoted filter literal.
QString stringForFilterPredicate(const QString &s);
// The receiver, an "http://" form of it, or null (not a URL).
QString isURL(const QString &s);
bool isTLD(const QString &s);
// UTF-8 percent-escaping that also escapes & + ' " (but not / ? = :).
QString urlEncodedString(const QString &s);
// "0x%x" / "%x" of the low 32 bits (two's complement: -1 gives "0xffffffff").
QString hexStringFromNumber(qint64 number);
QString hexStringFromNumberNoLeading0x(qint64 number);
// Hexadecimal digits scanned from the start (after white space; "0x" or "0X"
// accepted); 0 when nothing scans; 0xffffffff when the value overflows.
quint32 numberFromHexString(const QString &s);
// A new random UUID, 36 characters, upper-case hexadecimal.
QString uuidAsString();
QString stringWithNewUUID();
// Plain text of `html` read as HTML, on the calling thread.
QString flattenHTML(const QString &html);

// Line endings and UTF-16 data
QString stringWithMacLineEndings(const QString &s);     // "\r\n" -> "\n"
QString stringWithWindowsLineEndings(const QString &s); // "\n" -> "\r\n"
// stringWithWindowsLineEndings in the UTF16 encoding (byte-order mark, host
// order); unpaired surrogates become U+FFFD.
QByteArray dataWithWindowsLineEndings(const QString &s);
QString convertNewlinesToReturns(const QString &s);               // "\n" -> "\r"
QString convertReturnsToNewlines(const QString &s);               // "\r" -> "\n"
QString convertLineEndingsToParagraphSeparator(const QString &s); // "\r\n", "\r", "\n" -> U+2029
QString convertParagraphSeparatorToLineEndings(const QString &s); // U+2029 -> "\n"
QByteArray dataUnicodeNoBOMLE(const QString &s);
QByteArray dataUnicodeNoBOMBE(const QString &s);
// UTF-16 whose units are in the byte order opposite to the host's; a leading
// byte-order mark is dropped, an odd last byte ignored.
QString stringWithWindowsUnicodeData(const QByteArray &data);
// Exchanges the two bytes of each of `count` 16-bit units in place; returns
// `units`. Nothing happens for a count below 1.
char16_t *swapUTF16Units(char16_t *units, qint64 count);

} // namespace vtr
