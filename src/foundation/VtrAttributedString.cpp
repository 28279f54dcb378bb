#include "foundation/VtrAttributedString.h"

#include "platform/MainThread.h"

#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

std::unique_ptr<QTextDocument> VtrAttributedString::toDocument() const
{
    auto document = std::make_unique<QTextDocument>();
    QTextCursor cursor(document.get());
    qsizetype at = 0;
    for (const Run &run : runs) {
        if (run.start > at) cursor.insertText(string.mid(at, run.start - at), QTextCharFormat());
        cursor.insertText(string.mid(run.start, run.length), run.format);
        at = run.start + run.length;
    }
    if (at < string.size()) cursor.insertText(string.mid(at), QTextCharFormat());
    return document;
}

namespace vtr {

namespace {

VtrAttributedString fromDocument(const QTextDocument &document)
{
    VtrAttributedString result;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) result.string.append(QLatin1Char('\n'));
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) continue;
            QString text = fragment.text();
            text.replace(QChar::LineSeparator, QLatin1Char('\n'));
            result.runs.append({result.string.size(), text.size(), fragment.charFormat()});
            result.string.append(text);
        }
    }
    return result;
}

} // namespace

std::optional<VtrAttributedString> attributedStringWithHTMLData(const QByteArray &data,
                                                                QVariantMap *outDocumentAttributes)
{
    if (data.isNull()) return std::nullopt;
    std::optional<VtrAttributedString> result;
    QVariantMap attributes;
    // The HTML reader lays text out with the application's fonts, which only
    // the main thread may touch safely.
    platform::runOnMainAndWait([&] {
        QStringDecoder decoder = QStringDecoder::decoderForHtml(data);
        const QString html = decoder.isValid() ? decoder.decode(data) : QString::fromUtf8(data);
        QTextDocument document;
        document.setHtml(html);
        result = fromDocument(document);
        attributes.insert(QStringLiteral("DocumentType"), QStringLiteral("NSHTML"));
        const QString title = document.metaInformation(QTextDocument::DocumentTitle);
        if (!title.isEmpty()) attributes.insert(QStringLiteral("Title"), title);
    });
    if (outDocumentAttributes) *outDocumentAttributes = attributes;
    return result;
}

VtrAttributedString hyperlinkFromString(const QString &s, const QUrl &url, const QColor &textColor)
{
    const QColor color = textColor.isValid() ? textColor : QColor(Qt::blue);
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(url.toString(QUrl::FullyEncoded));
    format.setForeground(color);
    format.setUnderlineColor(color);
    format.setProperty(kVtrStrokeColorProperty, color);
    format.setUnderlineStyle(QTextCharFormat::SingleUnderline);

    VtrAttributedString result;
    result.string = s;
    if (!s.isEmpty()) result.runs.append({0, s.size(), format});
    return result;
}

} // namespace vtr
