#include "VtrBase64.h"

namespace vtr {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

bool isCharacterPartOfBase64Encoding(unsigned char c)
{
    return valueOf(c) >= 0;
}

QByteArray dataWithBase64EncodedString(const QByteArray &asciiText)
{
    QByteArray out;
    out.reserve(asciiText.size() / 4 * 3 + 3);
    for (const char ch : asciiText)
        if (static_cast<unsigned char>(ch) >= 0x80) return QByteArray();
    int group[4];
    int filled = 0;
    bool padded = false;
    for (const char ch : asciiText) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '=') {
            padded = true;
            break;
        }
        const int v = valueOf(c);
        if (v < 0) continue;
        group[filled++] = v;
        if (filled == 4) {
            out.append(char((group[0] << 2) | (group[1] >> 4)));
            out.append(char(((group[1] & 0x0f) << 4) | (group[2] >> 2)));
            out.append(char(((group[2] & 0x03) << 6) | group[3]));
            filled = 0;
        }
    }
    // A final group cut short by the padding mark or by the end of the text:
    // two values carry one byte, three carry two. A single value holds only
    // six bits; after a mark it gives one byte with those bits on top, at the
    // plain end of the text nothing.
    switch (filled) {
    case 1:
        if (padded) out.append(char(group[0] << 2));
        break;
    case 2:
        out.append(char((group[0] << 2) | (group[1] >> 4)));
        break;
    case 3:
        out.append(char((group[0] << 2) | (group[1] >> 4)));
        out.append(char(((group[1] & 0x0f) << 4) | (group[2] >> 2)));
        break;
    default:
        break;
    }
    return out;
}

QByteArray dataWithBase64EncodedString(const QString &text)
{
    if (text.isEmpty()) return QByteArray();
    for (const QChar c : text)
        if (c.unicode() >= 0x80) return QByteArray();
    return dataWithBase64EncodedString(text.toLatin1());
}

QString base64EncodingWithLineLength(const QByteArray &data, quint32 lineLength)
{
    if (data.isEmpty()) return QString();
    const auto *in = reinterpret_cast<const unsigned char *>(data.constData());
    const qsizetype n = data.size();
    QByteArray out;
    const qsizetype groups = (n + 2) / 3;
    out.reserve(groups * 4 + (lineLength ? groups * 4 / qsizetype(lineLength) + 1 : 0));
    quint64 onLine = 0;
    for (qsizetype i = 0; i < n; i += 3) {
        const qsizetype left = n - i;
        const unsigned b0 = in[i];
        const unsigned b1 = left > 1 ? in[i + 1] : 0;
        const unsigned b2 = left > 2 ? in[i + 2] : 0;
        out.append(kAlphabet[b0 >> 2]);
        out.append(kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)]);
        out.append(left > 1 ? kAlphabet[((b1 & 0x0f) << 2) | (b2 >> 6)] : '=');
        out.append(left > 2 ? kAlphabet[b2 & 0x3f] : '=');
        if (lineLength != 0) {
            onLine += 4;
            if (onLine >= lineLength) {
                out.append('\n');
                onLine = 0;
            }
        }
    }
    return QString::fromLatin1(out);
}

} // namespace vtr
