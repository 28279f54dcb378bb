#pragma once

#include <QString>
#include <QVariant>

class MediaLibraryHost;

// The small script language of the media-library host: what the library
// script templates are written in. One statement per line, "--" starts a
// comment, texts are double-quoted with the escapes \" \\ \n \r \t.
//
//   tell media library            ... end tell (grouping only)
//   set <name> to <expression>
//   return <expression>
//   error <expression> [number <n>]  fails with that message and number
//   delay <seconds>
//   <expression>
//
// Expressions:
//   "text" | <name>
//   add file <expr> to collection <expr>      the track IDs filed
//   add photos <expr> to album <expr>         the image keys filed
//   add photos <expr> to album id <expr>
//   add <tracks> to <playlist>                tracks onto a playlist
//   playlist <expr> [creating]                found (or made) playlist
//   folder playlist <expr> [creating]
//   album <expr> [creating]
//   version of music | version of photos
//   configured
//
// A script is checked whole before anything runs: a syntax error changes
// nothing. Values given by the template's tags only ever become texts.
namespace vtr {

struct HostScriptError
{
    int number;
    QString message;
};

// Checks and runs the script; throws HostScriptError. The answer is the value
// of "return", or of the last statement.
QVariant runHostScript(const QString &script, MediaLibraryHost &host);

// Checks the script only.
void checkHostScript(const QString &script);

// `value` as the text of a string literal (quotes not included).
QString escapeHostScriptText(const QString &value);

}  // namespace vtr
