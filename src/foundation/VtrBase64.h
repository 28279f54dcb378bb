#pragma once

#include <QByteArray>
#include <QString>

// Base64 of RFC 4648 (standard alphabet, "=" padding).
namespace vtr {

// True for the 64 alphabet characters ("=" is not one).
bool isCharacterPartOfBase64Encoding(unsigned char c);

// Bytes decoded from `text`. Characters outside the alphabet (line breaks,
// spaces, strays) are skipped; the first "=" ends the text. A final group of
// 2 or 3 characters, padded or not, gives 1 or 2 bytes; a lone final
// character gives nothing. Empty for a null, empty or non-ASCII text.
QByteArray dataWithBase64EncodedString(const QString &text);
QByteArray dataWithBase64EncodedString(const QByteArray &asciiText);

// The bytes as Base64 text. With a line length other than 0 a line feed
// follows every group of 4 characters that brings the line to or past the
// length (so lines are whole groups, and text ending exactly at a line end
// ends with a line feed). Empty data gives an empty string.
QString base64EncodingWithLineLength(const QByteArray &data, quint32 lineLength);

} // namespace vtr
