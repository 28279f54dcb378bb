#include "LogFile.h"

#include "platform/Descriptor.h"
#include "platform/Folders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vtr {
namespace {

bool isBareByte(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '_':
    case '$':
    case '+':
    case '/':
    case ':':
    case '.':
    case '-':
        return true;
    default:
        return false;
    }
}

void writeString(QByteArray &out, const QString &s)
{
    const QByteArray utf8 = s.toUtf8();
    bool bare = !utf8.isEmpty();
    for (char c : utf8) {
        if (!isBareByte(static_cast<unsigned char>(c))) {
            bare = false;
            break;
        }
    }
    if (bare) {
        out += utf8;
        return;
    }
    out += '"';
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            // Every control character is escaped, so a payload never holds a
            // raw CR or LF: repairing CR LF line endings cannot alter records.
            if (c < 0x20)
                out += QByteArray("\\U00") + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += ch;
        }
    }
    out += '"';
}

void pad(QByteArray &out, int indent)
{
    out.append(QByteArray(indent * 4, ' '));
}

void writeValue(QByteArray &out, const QVariant &v, int indent)
{
    switch (v.typeId()) {
    case QMetaType::QString:
        writeString(out, v.toString());
        return;
    case QMetaType::QVariantMap: {
        const QVariantMap map = v.toMap();
        out += "{\n";
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            pad(out, indent + 1);
            writeString(out, it.key());
            out += " = ";
            writeValue(out, it.value(), indent + 1);
            out += ";\n";
        }
        pad(out, indent);
        out += '}';
        return;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = v.toList();
        out += "(\n";
        for (qsizetype i = 0; i < list.size(); ++i) {
            pad(out, indent + 1);
            writeValue(out, list.at(i), indent + 1);
            out += i + 1 < list.size() ? ",\n" : "\n";
        }
        pad(out, indent);
        out += ')';
        return;
    }
    case QMetaType::QByteArray: {
        const QByteArray hex = v.toByteArray().toHex();
        out += '<';
        for (qsizetype i = 0; i < hex.size(); i += 8) {
            if (i) out += ' ';
            out += hex.mid(i, 8);
        }
        out += '>';
        return;
    }
    case QMetaType::Bool:
        out += v.toBool() ? '1' : '0';
        return;
    case QMetaType::QDateTime:
        writeString(out, v.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")));
        return;
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        writeString(out, QStringLiteral("<null>"));
        return;
    default:
        if (v.canConvert<QString>())
            writeString(out, v.toString());
        else
            writeString(out, QString::fromLatin1(v.typeName()));
    }
}

class Parser
{
public:
    explicit Parser(const QByteArray &text) : m_p(text.constData()), m_end(text.constData() + text.size()) {}

    std::optional<QVariant> parseDocument()
    {
        std::optional<QVariant> v = value(0);
        if (!v || !skipSpace() || m_p != m_end) return std::nullopt;
        return v;
    }

private:
    static constexpr int kMaxDepth = 256;

    // Skips white space and comments; false for an unterminated comment.
    bool skipSpace()
    {
        while (m_p < m_end) {
            const char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++m_p;
            } else if (c == '/' && m_p + 1 < m_end && m_p[1] == '/') {
                while (m_p < m_end && *m_p != '\n')
                    ++m_p;
            } else if (c == '/' && m_p + 1 < m_end && m_p[1] == '*') {
                m_p += 2;
                while (m_p + 1 < m_end && !(m_p[0] == '*' && m_p[1] == '/'))
                    ++m_p;
                if (m_p + 1 >= m_end) return false;
                m_p += 2;
            } else {
                break;
            }
        }
        return true;
    }

    std::optional<QVariant> value(int depth)
    {
        if (depth > kMaxDepth || !skipSpace() || m_p >= m_end) return std::nullopt;
        switch (*m_p) {
        case '{':
            return dictionary(depth);
        case '(':
            return array(depth);
        case '<':
            return data();
        default: {
            std::optional<QString> s = string();
            if (!s) return std::nullopt;
            return QVariant(*s);
        }
        }
    }

    std::optional<QVariant> dictionary(int depth)
    {
        ++m_p;
        QVariantMap map;
        for (;;) {
            if (!skipSpace() || m_p >= m_end) return std::nullopt;
            if (*m_p == '}') {
                ++m_p;
                return QVariant(map);
            }
            std::optional<QString> key = string();
            if (!key || !skipSpace() || m_p >= m_end || *m_p != '=') return std::nullopt;
            ++m_p;
            std::optional<QVariant> v = value(depth + 1);
            if (!v || !skipSpace() || m_p >= m_end) return std::nullopt;
            map.insert(*key, *v);
            if (*m_p == ';')
                ++m_p;
            else if (*m_p != '}')
                return std::nullopt;
        }
    }

    std::optional<QVariant> array(int depth)
    {
        ++m_p;
        QVariantList list;
        for (;;) {
            if (!skipSpace() || m_p >= m_end) return std::nullopt;
            if (*m_p == ')') {
                ++m_p;
                return QVariant(list);
            }
            std::optional<QVariant> v = value(depth + 1);
            if (!v || !skipSpace() || m_p >= m_end) return std::nullopt;
            list.append(*v);
            if (*m_p == ',')
                ++m_p;
            else if (*m_p != ')')
                return std::nullopt;
        }
    }

    std::optional<QVariant> data()
    {
        ++m_p;
        QByteArray hex;
        while (m_p < m_end && *m_p != '>') {
            const char c = *m_p++;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
            if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
            hex += c;
        }
        if (m_p >= m_end || hex.size() % 2) return std::nullopt;
        ++m_p;
        return QVariant(QByteArray::fromHex(hex));
    }

    static int hexValue(char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    std::optional<QString> string()
    {
        if (m_p >= m_end) return std::nullopt;
        if (*m_p != '"') {
            const char *start = m_p;
            while (m_p < m_end && isBareByte(static_cast<unsigned char>(*m_p)))
                ++m_p;
            if (m_p == start) return std::nullopt;
            return QString::fromLatin1(start, m_p - start);
        }
        ++m_p;
        QString result;
        QByteArray run; // raw UTF-8 bytes since the last escape
        auto flush = [&] {
            result += QString::fromUtf8(run);
            run.clear();
        };
        while (m_p < m_end && *m_p != '"') {
            const char c = *m_p++;
            if (c != '\\') {
                run += c;
                continue;
            }
            if (m_p >= m_end) return std::nullopt;
            const char e = *m_p++;
            switch (e) {
            case 'n':
                run += '\n';
                break;
            case 't':
                run += '\t';
                break;
            case 'r':
                run += '\r';
                break;
            case 'a':
                run += '\a';
                break;
            case 'b':
                run += '\b';
                break;
            case 'f':
                run += '\f';
                break;
            case 'v':
                run += '\v';
                break;
            case 'U':
            case 'u': {
                char16_t unit = 0;
                int digits = 0;
                while (digits < 4 && m_p < m_end && hexValue(*m_p) >= 0) {
                    unit = char16_t(unit * 16 + hexValue(*m_p++));
                    ++digits;
                }
                if (digits == 0) return std::nullopt;
                flush();
                result += QChar(unit);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    int code = e - '0';
                    for (int i = 0; i < 2 && m_p < m_end && *m_p >= '0' && *m_p <= '7'; ++i)
                        code = code * 8 + (*m_p++ - '0');
                    run += char(code & 0xFF);
                } else {
                    run += e;
                }
            }
        }
        if (m_p >= m_end) return std::nullopt;
        ++m_p;
        flush();
        return result;
    }

    const char *m_p;
    const char *m_end;
};

} // namespace

QByteArray oldStylePropertyListText(const QVariant &value)
{
    QByteArray out;
    writeValue(out, value, 0);
    return out;
}

std::optional<QVariant> parseOldStylePropertyList(const QByteArray &text)
{
    return Parser(text).parseDocument();
}

} // namespace vtr

namespace {

constexpr qsizetype kInitialCapacity = 10000;
constexpr qsizetype kLineEndingScanLimit = 20000;

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The whole file from offset 0, at most kMaxFileBytes; nullopt when it cannot
// be read completely.
std::optional<QByteArray> readWholeFile(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::nullopt;
    const qint64 size = std::min<qint64>(st.st_size, LogFile::kMaxFileBytes);
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += n;
    }
    return bytes;
}

QString expandTilde(const QString &path)
{
    if (path == QLatin1String("~")) return platform::homeFolder();
    if (path.startsWith(QLatin1String("~/"))) return platform::homeFolder() + path.mid(1);
    return path;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

LogFile::LogFile()
{
    m_rawData.reserve(kInitialCapacity);
    m_dictionaries.reserve(kInitialCapacity);
}

LogFile::LogFile(const QString &path) : LogFile()
{
    createOpenReadFile(path);
}

LogFile::~LogFile()
{
    close();
}

void LogFile::createOpenReadFile(const QString &path)
{
    close();
    if (!path.isEmpty()) {
        const QString full = expandTilde(path);
        // A file in the way of the folder is left alone: the log then lives in
        // memory only rather than destroying something of the user's. So is
        // a link at its name, and what it points to, or an item that is not
        // a plain file of this user's. The file is opened in the folder as it
        // was checked (a folder of ours, no link), never by its path again.
        const QFileInfo where(full);
        const platform::Descriptor folder(platform::openOwnFolder(where.absolutePath(), true));
        const QByteArray leaf = QFile::encodeName(where.fileName());
        if (folder.isOpen() && !leaf.isEmpty() && !leaf.contains('\0')) {
            do {
                m_fd = ::openat(folder.get(), leaf.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                                0600);
            } while (m_fd < 0 && errno == EINTR);
        }
        struct stat st;
        if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
            ::close(m_fd);
            m_fd = -1;
        }
        parseFile();
    }
}

void LogFile::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_rawData.clear();
    m_dictionaries.clear();
}

unsigned int LogFile::getItemCount() const
{
    return unsigned(m_rawData.size());
}

std::optional<QVariantMap> LogFile::getItem(unsigned int index)
{
    if (index >= getItemCount()) return std::nullopt;
    std::optional<QVariantMap> &cached = m_dictionaries[index];
    if (!cached) cached = dataToDictionary(m_rawData.at(index));
    return cached;
}

void LogFile::addItem(const QVariantMap &record)
{
    const QByteArray payload = dictionaryToData(record);
    if (payload.isEmpty()) return;
    m_rawData.append(payload);
    m_dictionaries.append(record);
    writeOneItem(payload);
}

void LogFile::writeOneItem(const QByteArray &payload)
{
    if (m_fd < 0) return;
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    if (end < 0) return;
    const QByteArray packet = wrapDataIntoFilePacket(payload);
    // A record written in part would hide every later one from the reader:
    // cut the file back to where it was.
    if (!writeAll(m_fd, packet.constData(), packet.size())) {
        int rc;
        do {
            rc = ::ftruncate(m_fd, end);
        } while (rc != 0 && errno == EINTR);
    }
}

QByteArray LogFile::wrapDataIntoFilePacket(const QByteArray &payload)
{
    if (payload.isEmpty()) return QByteArray();
    QByteArray packet = QByteArray::number(payload.size());
    packet.reserve(packet.size() + payload.size() + 2);
    packet += ' ';
    packet += payload;
    packet += '\n';
    return packet;
}

QByteArray LogFile::dictionaryToData(const QVariantMap &record)
{
    return vtr::oldStylePropertyListText(record);
}

std::optional<QVariantMap> LogFile::dataToDictionary(const QByteArray &payload)
{
    std::optional<QVariant> v = vtr::parseOldStylePropertyList(payload);
    if (!v || v->typeId() != QMetaType::QVariantMap) return std::nullopt;
    return v->toMap();
}

void LogFile::clear()
{
    trimLines(0);
}

void LogFile::trimLines(unsigned int keep)
{
    const qsizetype count = m_rawData.size();
    if (count > qsizetype(keep)) {
        m_rawData.remove(0, count - keep);
        m_dictionaries.remove(0, count - keep);
    }
    saveToFile();
}

void LogFile::saveToFile()
{
    if (m_fd >= 0) rewrite(buildFileImage());
}

bool LogFile::rewrite(const QByteArray &image)
{
    if (::lseek(m_fd, 0, SEEK_SET) < 0) return false;
    int rc;
    do {
        rc = ::ftruncate(m_fd, 0);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return false;
    return writeAll(m_fd, image.constData(), image.size());
}

QByteArray LogFile::buildFileImage() const
{
    QByteArray image;
    image.reserve(m_rawData.size() * 200);
    for (const QByteArray &payload : m_rawData)
        image += wrapDataIntoFilePacket(payload);
    return image;
}

bool LogFile::fixLineEndings(QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    qsizetype first = -1;
    for (qsizetype i = 0; i + 1 < n && i <= kLineEndingScanLimit; ++i) {
        if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
            first = i;
            break;
        }
    }
    if (first < 0) return false;
    char *d = bytes.data();
    qsizetype out = first;
    for (qsizetype in = first; in < n; ++in) {
        if (d[in] == '\r' && in + 1 < n && d[in + 1] == '\n') continue;
        d[out++] = d[in];
    }
    bytes.truncate(out);
    return true;
}

void LogFile::parseFile()
{
    if (m_fd < 0) return;
    m_rawData.clear();
    m_dictionaries.clear();
    std::optional<QByteArray> read = readWholeFile(m_fd);
    if (!read) return;
    QByteArray bytes = std::move(*read);

    // "Clean" means the file is exactly the items in their canonical form, so
    // that appending to it keeps every record readable.
    bool clean = !fixLineEndings(bytes);
    const qsizetype n = bytes.size();
    const char *b = bytes.constData();
    qsizetype pos = 0;
    while (pos < n) {
        const qsizetype start = pos;
        while (pos < n && !isDigit(b[pos]))
            ++pos;
        if (pos != start) clean = false;
        if (pos >= n) break;

        const qsizetype digits = pos;
        while (pos < n && isDigit(b[pos]))
            ++pos;
        if (pos >= n) {
            clean = false;
            break;
        }
        const char terminator = b[pos];
        const qsizetype payload = terminator == ' ' ? pos + 1 : pos;
        if (terminator != ' ') clean = false;

        // Lengths beyond twelve digits cannot fit a file this size anyway.
        qint64 length = 0;
        if (pos - digits > 12)
            length = -1;
        else
            for (qsizetype i = digits; i < pos; ++i)
                length = length * 10 + (b[i] - '0');
        if (length < 1 || length > n - payload) {
            clean = false;
            break;
        }
        m_rawData.append(bytes.mid(payload, qsizetype(length)));
        m_dictionaries.append(std::nullopt);
        pos = payload + qsizetype(length);
        if (pos >= n || b[pos] != '\n') clean = false;
        ++pos;
    }
    if (!clean) rewrite(buildFileImage());
}
