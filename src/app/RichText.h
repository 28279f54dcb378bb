#pragma once

#include <QByteArray>
#include <QString>

// The scene texts are written as rich text files in a small subset: groups,
// \par and \line, \tab, bold (\b, \b0), italic (\i, \i0), underline (\ul,
// \ulnone), \'hh (Latin-1) and \uN escapes. Font, colour and style tables,
// pictures and other "\*" destinations are skipped; any other control word is
// ignored. The result is HTML for a Qt text widget; the colour is left to the
// widget (scene texts are shown in one colour).
namespace vtrapp {
QString rtfToHtml(const QByteArray &rtf);
}
