#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The pictures of the library trees (playlists, albums, events...), shipped
// as resources under ":/medialibrary/icons". Each is loaded once per process;
// a name that loads nothing is not remembered and gives a null image.
namespace vtr {

QImage libraryIcon(const QString &name);
// The raw bytes of a shipped picture ("unknown-album-art" as PNG).
QByteArray libraryIconData(const QString &name);

}  // namespace vtr
