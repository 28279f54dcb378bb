#include "app/RichText.h"

#include <QList>

#include <algorithm>
#include <cctype>

namespace vtrapp {
namespace {

struct Style
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool skip = false;
    int unicodeSkip = 1;
};

class Writer
{
public:
    void text(const QString &t, const Style &style)
    {
        if (style.skip || t.isEmpty()) return;
        QString run = t.toHtmlEscaped();
        if (style.underline) run = QStringLiteral("<u>%1</u>").arg(run);
        if (style.italic) run = QStringLiteral("<i>%1</i>").arg(run);
        if (style.bold) run = QStringLiteral("<b>%1</b>").arg(run);
        m_paragraph += run;
    }
    void raw(const QString &html, const Style &style)
    {
        if (!style.skip) m_paragraph += html;
    }
    void paragraph(const Style &style)
    {
        if (style.skip) return;
        m_html += QStringLiteral("<p>%1</p>").arg(m_paragraph);
        m_paragraph.clear();
    }
    QString finish()
    {
        if (!m_paragraph.isEmpty()) m_html += QStringLiteral("<p>%1</p>").arg(m_paragraph);
        return m_html;
    }

private:
    QString m_html;
    QString m_paragraph;
};

bool isSkippedDestination(const QByteArray &word)
{
    static const QList<QByteArray> skipped{"fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "footer",
                                           "expandedcolortbl", "listtable", "listoverridetable"};
    return skipped.contains(word);
}

}  // namespace

QString rtfToHtml(const QByteArray &rtf)
{
    Writer out;
    QList<Style> stack{Style{}};
    int pendingSkip = 0;  // characters still to drop after a \uN escape
    const int n = int(rtf.size());
    for (int i = 0; i < n;) {
        const char c = rtf.at(i);
        Style &style = stack.last();
        if (c == '{') {
            stack.append(style);
            ++i;
            // "{\*" opens a destination this reader does not know.
            if (i + 1 < n && rtf.at(i) == '\\' && rtf.at(i + 1) == '*') stack.last().skip = true;
            continue;
        }
        if (c == '}') {
            if (stack.size() > 1) stack.removeLast();
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            int j = i;
            while (j < n && rtf.at(j) != '\\' && rtf.at(j) != '{' && rtf.at(j) != '}' && rtf.at(j) != '\r' &&
                   rtf.at(j) != '\n')
                ++j;
            QString t = QString::fromUtf8(rtf.mid(i, j - i));
            const int drop = std::min(pendingSkip, int(t.size()));
            t.remove(0, drop);
            pendingSkip -= drop;
            out.text(t, style);
            i = j;
            continue;
        }
        // A control sequence.
        ++i;
        if (i >= n) break;
        const char s = rtf.at(i);
        if (s == '\\' || s == '{' || s == '}') {
            out.text(QString(QChar::fromLatin1(s)), style);
            ++i;
            continue;
        }
        if (s == '\'') {
            bool ok = false;
            const int code = rtf.mid(i + 1, 2).toInt(&ok, 16);
            i += 3;
            if (pendingSkip > 0) {
                --pendingSkip;
            } else if (ok) {
                out.text(QString(QChar::fromLatin1(char(code))), style);
            }
            continue;
        }
        if (s == '~') {
            out.text(QString(QChar(0x00A0)), style);
            ++i;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(s))) {
            ++i;  // \*, \-, \_ and other symbols
            continue;
        }
        int j = i;
        while (j < n && std::isalpha(static_cast<unsigned char>(rtf.at(j)))) ++j;
        const QByteArray word = rtf.mid(i, j - i);
        int k = j;
        if (k < n && (rtf.at(k) == '-' || std::isdigit(static_cast<unsigned char>(rtf.at(k))))) ++k;
        while (k < n && std::isdigit(static_cast<unsigned char>(rtf.at(k)))) ++k;
        const bool hasParam = k > j;
        const int param = hasParam ? rtf.mid(j, k - j).toInt() : 1;
        if (k < n && rtf.at(k) == ' ') ++k;  // the delimiting space belongs to the word
        i = k;

        if (isSkippedDestination(word)) style.skip = true;
        else if (word == "par") out.paragraph(style);
        else if (word == "line") out.raw(QStringLiteral("<br/>"), style);
        else if (word == "tab") out.raw(QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;"), style);
        else if (word == "b") style.bold = param != 0;
        else if (word == "i") style.italic = param != 0;
        else if (word == "ul") style.underline = param != 0;
        else if (word == "ulnone") style.underline = false;
        else if (word == "plain") style.bold = style.italic = style.underline = false;
        else if (word == "uc") style.unicodeSkip = std::max(0, param);
        else if (word == "u" && hasParam) {
            const char16_t unit = char16_t(param < 0 ? param + 65536 : param);
            out.text(QString(QChar(unit)), style);
            pendingSkip = style.unicodeSkip;
        }
    }
    return out.finish();
}

}  // namespace vtrapp
