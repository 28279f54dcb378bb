#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QTextCharFormat>
#include <QTextFormat>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <optional>

class QTextDocument;

// Text with character attributes, as a plain value that any thread may keep,
// copy and destroy (no QObject inside). Runs cover the text in order and
// never overlap; text outside every run has no attributes.
struct VtrAttributedString
{
    struct Run
    {
        qsizetype start = 0;
        qsizetype length = 0;
        QTextCharFormat format;
    };

    QString string; // the plain characters; paragraphs and line breaks are "\n"
    QList<Run> runs;

    // A new document holding the text and its attributes, owned by the caller
    // and living on the calling thread (which needs a QGuiApplication).
    std::unique_ptr<QTextDocument> toDocument() const;
};

// QTextFormat property holding the stroke (outline) colour of a hyperlink,
// kept apart from QTextCharFormat::textOutline so that nothing is outlined.
inline constexpr int kVtrStrokeColorProperty = QTextFormat::UserProperty + 0x5601;

namespace vtr {

// The text that Qt's HTML reader makes of `data`, read on the main thread
// (the caller waits). Nothing for null data. The character set comes from a
// byte-order mark or a <meta charset>, else UTF-8. `outDocumentAttributes`,
// when given, receives "DocumentType" ("NSHTML") and, when the document has
// one, "Title".
std::optional<VtrAttributedString> attributedStringWithHTMLData(const QByteArray &data,
                                                                QVariantMap *outDocumentAttributes = nullptr);

// `s` as one link run: anchor href = the URL's full text, foreground,
// underline and stroke colour = `textColor` (blue when invalid), single
// underline.
VtrAttributedString hyperlinkFromString(const QString &s, const QUrl &url, const QColor &textColor = QColor());

} // namespace vtr
