#include "sources/host/HostScript.h"

#include "platform/Strings.h"
#include "sources/host/MediaLibraryHost.h"

#include <QHash>
#include <QList>
#include <QThread>
#include <QVariantList>
#include <QVariantMap>

namespace vtr {

namespace {

constexpr int kSyntaxError = -2741;
constexpr int kUndefinedVariable = -2753;
constexpr int kCantGet = -1728;
constexpr int kWrongType = -1700;

struct Token
{
    enum Kind { Word, Text } kind;
    QString text;
};
using Line = QList<Token>;

[[noreturn]] void syntaxError(const QString &message)
{
    throw HostScriptError{kSyntaxError, message};
}

QList<Line> tokenize(const QString &script)
{
    QList<Line> lines;
    Line line;
    const qsizetype n = script.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = script.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (!line.isEmpty()) lines.append(line);
            line.clear();
            ++i;
        } else if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('-') && i + 1 < n && script.at(i + 1) == QLatin1Char('-')) {
            while (i < n && script.at(i) != QLatin1Char('\n') && script.at(i) != QLatin1Char('\r'))
                ++i;
        } else if (c == QLatin1Char('"')) {
            QString text;
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = script.at(i++);
                if (d == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (d != QLatin1Char('\\')) {
                    text += d;
                    continue;
                }
                if (i >= n) break;
                const QChar e = script.at(i++);
                if (e == QLatin1Char('n'))
                    text += QLatin1Char('\n');
                else if (e == QLatin1Char('r'))
                    text += QLatin1Char('\r');
                else if (e == QLatin1Char('t'))
                    text += QLatin1Char('\t');
                else if (e == QLatin1Char('"') || e == QLatin1Char('\\'))
                    text += e;
                else
                    syntaxError(vtrLocalized("Unknown escape \"\\%1\" in a text.").arg(e));
            }
            if (!closed) syntaxError(vtrLocalized("A text is not closed with a quote."));
            line.append({Token::Text, text});
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') ||
                   (c == QLatin1Char('-') && i + 1 < n && script.at(i + 1).isDigit())) {
            const qsizetype start = i++;
            while (i < n && (script.at(i).isLetterOrNumber() || script.at(i) == QLatin1Char('_') ||
                             (c != QLatin1Char('_') && !c.isLetter() && script.at(i) == QLatin1Char('.'))))
                ++i;
            line.append({Token::Word, script.mid(start, i - start)});
        } else {
            syntaxError(vtrLocalized("Unexpected character \"%1\".").arg(c));
        }
    }
    if (!line.isEmpty()) lines.append(line);
    return lines;
}

QVariantMap playlistValue(const MediaLibraryHost::Playlist &p)
{
    return {{QStringLiteral("class"), QStringLiteral("playlist")},
            {QStringLiteral("name"), p.name},
            {QStringLiteral("persistentID"), p.persistentID},
            {QStringLiteral("id"), p.playlistID},
            {QStringLiteral("folder"), p.folder}};
}

QVariantMap albumValue(const MediaLibraryHost::Album &a)
{
    return {{QStringLiteral("class"), QStringLiteral("album")},
            {QStringLiteral("name"), a.name},
            {QStringLiteral("id"), a.albumID}};
}

// Evaluates one line; with `host` null it only checks the syntax (and that
// every name is set before it is used).
class Evaluator
{
public:
    explicit Evaluator(MediaLibraryHost *host) : m_host(host) {}

    QVariant run(const QList<Line> &lines)
    {
        int tells = 0;
        QVariant last;
        for (const Line &line : lines) {
            m_line = &line;
            m_pos = 0;
            if (isWord(0, "tell")) {
                expectWords({"tell", "media", "library"});
                ++tells;
            } else if (isWord(0, "end")) {
                expectWords({"end", "tell"});
                if (--tells < 0) syntaxError(vtrLocalized("\"end tell\" without \"tell\"."));
            } else if (isWord(0, "set")) {
                ++m_pos;
                const QString name = word();
                expectWords({"to"});
                const QVariant value = expression();
                m_variables.insert(name, value);
                last = value;
            } else if (isWord(0, "error")) {
                ++m_pos;
                const QString message = textOperand();
                int number = -2700;
                if (nextIs("number")) {
                    ++m_pos;
                    number = int(numberOperand());
                }
                endOfLine();
                if (m_host) throw HostScriptError{number, message};
                continue;
            } else if (isWord(0, "delay")) {
                ++m_pos;
                const double seconds = numberOperand();
                endOfLine();
                if (m_host) QThread::msleep(static_cast<unsigned long>(qBound(0.0, seconds, 3600.0) * 1000));
                continue;
            } else if (isWord(0, "return")) {
                ++m_pos;
                last = expression();
                endOfLine();
                if (m_host) return last;
                continue;
            } else {
                last = expression();
            }
            endOfLine();
        }
        if (tells != 0) syntaxError(vtrLocalized("\"tell\" without \"end tell\"."));
        return last;
    }

private:
    bool isWord(qsizetype at, const char *w) const
    {
        return at < m_line->size() && m_line->at(at).kind == Token::Word &&
               m_line->at(at).text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
    }
    bool nextIs(const char *w) const { return isWord(m_pos, w); }

    void expectWords(std::initializer_list<const char *> words)
    {
        for (const char *w : words) {
            if (!nextIs(w))
                syntaxError(vtrLocalized("Expected \"%1\" but found %2.").arg(QLatin1String(w), found()));
            ++m_pos;
        }
    }

    QString found() const
    {
        if (m_pos >= m_line->size()) return vtrLocalized("the end of the line");
        const Token &t = m_line->at(m_pos);
        return t.kind == Token::Text ? vtrLocalized("a text") : QStringLiteral("\"%1\"").arg(t.text);
    }

    void endOfLine()
    {
        if (m_pos < m_line->size()) syntaxError(vtrLocalized("Expected the end of the line but found %1.").arg(found()));
    }

    QString word()
    {
        if (m_pos >= m_line->size() || m_line->at(m_pos).kind != Token::Word)
            syntaxError(vtrLocalized("Expected a name but found %1.").arg(found()));
        return m_line->at(m_pos++).text;
    }

    QVariant operand()
    {
        if (m_pos >= m_line->size()) syntaxError(vtrLocalized("Expected a value but found the end of the line."));
        const Token &t = m_line->at(m_pos++);
        if (t.kind == Token::Text) return t.text;
        if (!m_variables.contains(t.text))
            throw HostScriptError{kUndefinedVariable, vtrLocalized("The variable %1 is not defined.").arg(t.text)};
        return m_variables.value(t.text);
    }

    QString textOperand()
    {
        const QVariant v = operand();
        if (m_host && v.typeId() != QMetaType::QString)
            throw HostScriptError{kWrongType, vtrLocalized("Expected a text.")};
        return v.toString();
    }

    double numberOperand()
    {
        bool ok = false;
        const double value = m_pos < m_line->size() && m_line->at(m_pos).kind == Token::Word
                                 ? m_line->at(m_pos).text.toDouble(&ok)
                                 : 0;
        if (!ok) syntaxError(vtrLocalized("Expected a number but found %1.").arg(found()));
        ++m_pos;
        return value;
    }

    bool creating()
    {
        if (!nextIs("creating")) return false;
        ++m_pos;
        return true;
    }

    QVariant expression()
    {
        if (nextIs("add")) return add();
        if (nextIs("playlist")) {
            ++m_pos;
            return playlist(false);
        }
        if (nextIs("folder")) {
            expectWords({"folder", "playlist"});
            return playlist(true);
        }
        if (nextIs("album")) {
            ++m_pos;
            const QString name = textOperand();
            const bool create = creating();
            if (!m_host) return QVariantMap();
            if (auto a = m_host->findAlbum(name)) return albumValue(*a);
            if (create) return albumValue(m_host->createAlbum(name));
            throw HostScriptError{kCantGet, vtrLocalized("Can't get album \"%1\".").arg(name)};
        }
        if (nextIs("version")) {
            expectWords({"version", "of"});
            const bool music = nextIs("music");
            if (!music && !nextIs("photos"))
                syntaxError(vtrLocalized("Expected \"music\" or \"photos\" but found %1.").arg(found()));
            ++m_pos;
            if (!m_host) return QString();
            return music ? m_host->musicVersion() : m_host->photosVersion();
        }
        if (nextIs("configured")) {
            ++m_pos;
            return m_host ? m_host->isConfigured() : false;
        }
        return operand();
    }

    QVariant playlist(bool folder)
    {
        const QString name = textOperand();
        const bool create = creating();
        if (!m_host) return QVariantMap();
        if (auto p = m_host->findPlaylist(name, folder)) return playlistValue(*p);
        if (create) return playlistValue(m_host->createPlaylist(name, folder));
        throw HostScriptError{kCantGet, vtrLocalized("Can't get playlist \"%1\".").arg(name)};
    }

    QVariant add()
    {
        ++m_pos;
        if (nextIs("file")) {
            ++m_pos;
            const QString path = textOperand();
            expectWords({"to", "collection"});
            const QString collection = textOperand();
            if (!m_host) return QVariantList();
            QVariantList ids;
            for (qint64 id : m_host->addMediaFiles(path, collection))
                ids.append(id);
            return ids;
        }
        if (nextIs("photos")) {
            ++m_pos;
            const QString path = textOperand();
            expectWords({"to", "album"});
            const bool byID = nextIs("id");
            if (byID) ++m_pos;
            const QString album = textOperand();
            if (!m_host) return QVariantList();
            if (byID) {
                bool ok = false;
                const qint64 id = album.toLongLong(&ok);
                if (!ok) throw HostScriptError{kWrongType, vtrLocalized("\"%1\" is not an album number.").arg(album)};
                return QVariant(m_host->addPhotosToAlbumID(path, id));
            }
            return QVariant(m_host->addPhotos(path, album));
        }
        const QVariant tracks = operand();
        expectWords({"to"});
        const QVariant target = operand();
        if (!m_host) return QVariant();
        const QVariantMap playlist = target.toMap();
        if (tracks.typeId() != QMetaType::QVariantList)
            throw HostScriptError{kWrongType, vtrLocalized("Only tracks can be added to a playlist.")};
        if (playlist.value(QStringLiteral("class")).toString() != QLatin1String("playlist"))
            throw HostScriptError{kWrongType, vtrLocalized("Tracks can only be added to a playlist.")};
        QList<qint64> ids;
        for (const QVariant &id : tracks.toList())
            ids.append(id.toLongLong());
        m_host->addTracksToPlaylist(ids, playlist.value(QStringLiteral("persistentID")).toString());
        return target;
    }

    MediaLibraryHost *m_host;
    const Line *m_line = nullptr;
    qsizetype m_pos = 0;
    QHash<QString, QVariant> m_variables;
};

}  // namespace

void checkHostScript(const QString &script)
{
    Evaluator(nullptr).run(tokenize(script));
}

QVariant runHostScript(const QString &script, MediaLibraryHost &host)
{
    const QList<Line> lines = tokenize(script);
    Evaluator(nullptr).run(lines);
    try {
        return Evaluator(&host).run(lines);
    } catch (const MediaLibraryHost::Failure &failure) {
        throw HostScriptError{failure.number, failure.message};
    }
}

QString escapeHostScriptText(const QString &value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QStringLiteral("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace vtr
