#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Zip archives made and unpacked with libarchive.
namespace vtr {

// Writes a zip archive of the file or folder at `itemPath` to `archivePath`.
// Entries begin with the item's own name ("Photos/", "Photos/a.jpg"); links
// are stored as links, pipes and devices are left out, and `excludedPaths`
// (for example the archive itself, when it lies inside the item) are never
// stored. The archive is written beside `archivePath` first and renamed over
// it when complete, so an old archive survives a failure. False (with a
// reason in *error) on failure.
bool zipItemToFile(const QString &itemPath, const QString &archivePath, QString *error = nullptr,
                   const QStringList &excludedPaths = {});

// The same archive as bytes; null on failure.
QByteArray zipItemToData(const QString &itemPath, QString *error = nullptr);

struct ArchiveExtractResult
{
    bool ok = false; // the archive was read to its end
    int written = 0; // entries written
    int skipped = 0; // entries refused (outside the folder, unsafe links, special files)
    QString error;
};

// Unpacks any archive libarchive reads (zip first of all) into the existing
// folder `targetFolder`. Nothing is ever written outside it: absolute names,
// ".." components and links that lead out are refused, the folder walk never
// follows a link, and only files, folders and links that stay inside are made.
// An archive whose files announce, or turn out to hold, more than the
// folder's free space less a reserve is refused with nothing of it left
// behind (a file that grows past its announced size counts as too big).
ArchiveExtractResult extractArchive(const QString &archivePath, const QString &targetFolder);

// The free space extractions count with, as if the disk had `bytes` free;
// negative: the real free space.
void setExtractionFreeSpaceForTesting(qint64 bytes);

} // namespace vtr
