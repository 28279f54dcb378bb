#include "migration/VtrMusicPlaylistKinds.h"

#include "devices/command/HandheldDeviceProtocol.h"
#include "devices/playlist/MusicPlaylistFactory.h"
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

const QChar kBackslash(u'\\');

// The drive ("E:\" upper-cased, "" for none) and the components of the rest.
void splitDevicePath(const QString &path, QString *drive, QStringList *components)
{
    QString rest;
    vtr::decomposeWindowsPath(path, drive, &rest);
    const QStringList parts = rest.split(kBackslash, Qt::SkipEmptyParts);
    components->clear();
    for (const QString &part : parts)
        if (part != QLatin1String(".")) components->append(part);
}

QString folderOfPath(const QString &path)
{
    QString drive;
    QStringList components;
    splitDevicePath(path, &drive, &components);
    if (!components.isEmpty()) components.removeLast();
    return drive + components.join(kBackslash);
}

// The tracks of all playlists once each (same path ignoring case), in the
// order met.
QList<VtrPlaylistTrack> mergedTracks(const QList<VtrPlaylistContents> &playlists)
{
    QList<VtrPlaylistTrack> tracks;
    QSet<QString> seen;
    for (const VtrPlaylistContents &playlist : playlists) {
        for (const VtrPlaylistTrack &track : playlist.tracks) {
            const QString key = track.devicePath.toCaseFolded();
            if (seen.contains(key)) continue;
            seen.insert(key);
            tracks.append(track);
        }
    }
    return tracks;
}

QString titleOfTrack(const VtrPlaylistTrack &track)
{
    if (!track.title.isEmpty()) return track.title;
    return vtr::windowsStringByDeletingPathExtension(vtr::windowsLastPathComponent(track.devicePath));
}

std::unique_ptr<VtrMusicPlaylist> makeWriter(VtrMusicPlaylistFormat format, HandheldDeviceProtocol *device)
{
    std::unique_ptr<VtrMusicPlaylist> writer;
    switch (format) {
    case VtrMusicPlaylistFormat::Iriver:
        writer = VtrMusicPlaylist_iriver::playlistWithDevice(device);
        break;
    case VtrMusicPlaylistFormat::MTP:
        writer = VtrMusicPlaylist_mtp::playlistWithDevice(device);
        break;
    case VtrMusicPlaylistFormat::M3U:
        writer = VtrMusicPlaylist_m3u::playlistWithDevice(device);
        break;
    }
    return writer;
}

// Registers the writers as soon as this file is part of the program.
const bool g_registered = [] {
    vtrRegisterMusicPlaylistWriters();
    return true;
}();

} // namespace

void vtrRegisterMusicPlaylistWriters()
{
    vtrSetMusicPlaylistFactory(&makeWriter);
}

// ---- VtrMusicPlaylist -------------------------------------------------------------------

VtrMusicPlaylist::VtrMusicPlaylist(HandheldDeviceProtocol *device) : m_device(device)
{
    (void)g_registered;
}

QString VtrMusicPlaylist::playlistPathForName(const QString &name, const QString &folderPath) const
{
    const bool asciiOnly = m_device && m_device->fileSystemIsASCIIOnly();
    QString fileName = vtr::windowsValidFilenameUsingASCIIOnly(name.trimmed(), asciiOnly);
    if (fileName.isEmpty()) fileName = QStringLiteral("Playlist");
    // The extension itself comes from a device list: it must not smuggle in a
    // separator either.
    const QString extension = vtr::windowsValidFilename(fileExtension());
    if (!extension.isEmpty()) fileName += QLatin1Char('.') + extension;
    QString drive;
    QStringList components;
    splitDevicePath(folderPath, &drive, &components);
    components.append(fileName);
    return drive + components.join(kBackslash);
}

QString VtrMusicPlaylist::trackReference(const QString &trackPath, const QString &playlistPath) const
{
    QString trackDrive;
    QStringList trackComponents;
    splitDevicePath(trackPath, &trackDrive, &trackComponents);
    QString listDrive;
    QStringList folderComponents;
    splitDevicePath(folderOfPath(playlistPath), &listDrive, &folderComponents);

    // A track without a drive lies on the playlist's drive.
    const bool sameDrive = trackDrive.isEmpty() || trackDrive.compare(listDrive, Qt::CaseInsensitive) == 0;
    if (!m_usesRelativePaths || !sameDrive) return kBackslash + trackComponents.join(kBackslash);

    qsizetype common = 0;
    while (common < folderComponents.size() && common < trackComponents.size() - 1 &&
           folderComponents.at(common).compare(trackComponents.at(common), Qt::CaseInsensitive) == 0)
        ++common;
    QStringList parts;
    for (qsizetype i = common; i < folderComponents.size(); ++i)
        parts.append(QStringLiteral(".."));
    for (qsizetype i = common; i < trackComponents.size(); ++i)
        parts.append(trackComponents.at(i));
    return parts.join(kBackslash);
}

VtrFileInfoList VtrMusicPlaylist::writePlaylists(const QList<VtrPlaylistContents> &playlists, const QString &folderPath)
{
    QList<VtrPlaylistContents> toWrite = playlists;
    if (!m_supportsMultiplePlaylists && playlists.size() > 1)
        toWrite = {VtrPlaylistContents{playlists.first().name, mergedTracks(playlists)}};

    VtrFileInfoList written;
    for (const VtrPlaylistContents &playlist : toWrite) {
        const QString path = playlistPathForName(playlist.name, folderPath);
        VtrFileInfoPtr node;
        try {
            node = writeOne(path, playlist.tracks);
        } catch (const VtrException &e) {
            VTR_LOG(2, QStringLiteral("Writing the playlist %1 failed: %2").arg(path, e.reason()));
            node = nullptr;
        }
        if (node)
            written.append(node);
        else
            VTR_LOG(2, QStringLiteral("The playlist %1 was not written.").arg(path));
    }
    return written;
}

VtrFileInfoPtr VtrMusicPlaylist::writePlaylist(const QString &name, const QList<VtrPlaylistTrack> &tracks,
                                               const QString &folderPath)
{
    const VtrFileInfoList written = writePlaylists({VtrPlaylistContents{name, tracks}}, folderPath);
    return written.isEmpty() ? nullptr : written.first();
}

VtrFileInfoPtr VtrMusicPlaylist::writeFileToDevice(const QString &playlistPath, const QByteArray &bytes)
{
    if (!m_device) return nullptr;
    const QString folder = folderOfPath(playlistPath) + kBackslash;
    const VtrFileInfoPtr folderNode = m_device->deviceFileInfoWithPathCreateIfNeeded(folder, true);
    if (!folderNode || !folderNode->exists()) return nullptr;

    if (!m_device->mtpDevice()) return m_device->createFileWithPath(playlistPath, bytes);

    // Over MTP the phone takes whole files only: write the playlist into a
    // private temporary folder and let the device copy it across. The folder
    // is made afresh (never one that stood there), the file in it too, and
    // both go again without following a link.
    QTemporaryDir made(QDir(platform::temporaryFolder()).filePath(QStringLiteral("playlist-XXXXXX")));
    if (!made.isValid()) return nullptr;
    made.setAutoRemove(false);
    const struct Removal
    {
        QString path;
        ~Removal() { platform::removeTreeWithoutFollowingLinks(path); }
    } removal{made.path()};
    const VtrFileInfoPtr tempFolder = VtrMacFileInfo::fileInfoWithPath(made.path());
    const VtrFileInfoPtr local =
        tempFolder->createFile(vtr::windowsLastPathComponent(playlistPath), bytes, QVariantMap(), true);
    if (!local || !local->exists() || local->name() != vtr::windowsLastPathComponent(playlistPath)) return nullptr;
    const VtrFileInfoPtr target = m_device->deviceFileInfoWithPath(playlistPath);
    if (!target || m_device->copyDesktopFile(local, target, nullptr, nullptr) != kFileInfoCopyOK) return nullptr;
    return m_device->deviceFileInfoWithPath(playlistPath);
}

// ---- M3U ------------------------------------------------------------------------------------

std::unique_ptr<VtrMusicPlaylist_m3u> VtrMusicPlaylist_m3u::playlistWithDevice(HandheldDeviceProtocol *device)
{
    return std::unique_ptr<VtrMusicPlaylist_m3u>(new VtrMusicPlaylist_m3u(device));
}

QByteArray VtrMusicPlaylist_m3u::playlistData(const QList<VtrPlaylistTrack> &tracks, const QString &playlistPath) const
{
    // Line breaks inside a title would start lines of their own.
    const auto oneLine = [](QString text) {
        text.replace(QLatin1Char('\r'), QLatin1Char(' '));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return text;
    };
    QString text = QStringLiteral("#EXTM3U\r\n");
    for (const VtrPlaylistTrack &track : tracks) {
        const int seconds = track.durationSeconds < 0 ? -1 : track.durationSeconds;
        text += QStringLiteral("#EXTINF:%1,%2\r\n").arg(seconds).arg(oneLine(titleOfTrack(track)));
        text += oneLine(trackReference(track.devicePath, playlistPath)) + QStringLiteral("\r\n");
    }
    return text.toUtf8();
}

VtrFileInfoPtr VtrMusicPlaylist_m3u::writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks)
{
    return writeFileToDevice(playlistPath, playlistData(tracks, playlistPath));
}

// ---- MTP ------------------------------------------------------------------------------------

std::unique_ptr<VtrMusicPlaylist_mtp> VtrMusicPlaylist_mtp::playlistWithDevice(HandheldDeviceProtocol *device)
{
    return std::unique_ptr<VtrMusicPlaylist_mtp>(new VtrMusicPlaylist_mtp(device));
}

VtrFileInfoPtr VtrMusicPlaylist_mtp::writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks)
{
    HandheldDeviceProtocol *dev = device();
    if (!dev) return nullptr;
    const VtrFileInfoPtr folderNode =
        dev->deviceFileInfoWithPathCreateIfNeeded(folderOfPath(playlistPath) + kBackslash, true);
    if (!folderNode || !folderNode->exists()) return nullptr;
    QStringList paths;
    for (const VtrPlaylistTrack &track : tracks)
        paths.append(track.devicePath);
    return dev->setDevicePlaylistForPlaylistPath(playlistPath, paths);
}

// ---- iriver ---------------------------------------------------------------------------------

const char VtrMusicPlaylist_iriver::kSignature[] = "iriver UMS PLA";

std::unique_ptr<VtrMusicPlaylist_iriver> VtrMusicPlaylist_iriver::playlistWithDevice(HandheldDeviceProtocol *device)
{
    return std::unique_ptr<VtrMusicPlaylist_iriver>(new VtrMusicPlaylist_iriver(device));
}

QByteArray VtrMusicPlaylist_iriver::playlistData(const QList<VtrPlaylistTrack> &tracks,
                                                 const QString &playlistPath) const
{
    QByteArray entries;
    quint32 count = 0;
    for (const VtrPlaylistTrack &track : tracks) {
        const QString reference = trackReference(track.devicePath, playlistPath);
        if (reference.isEmpty() || reference.size() > kMaxPathUnits) {
            VTR_LOG(1, QStringLiteral("Playlist track left out, its path does not fit: %1").arg(track.devicePath));
            continue;
        }
        QByteArray block(kBlockSize, '\0');
        const quint16 namePosition = quint16(reference.lastIndexOf(kBackslash) + 2);
        qToBigEndian(namePosition, block.data());
        for (qsizetype i = 0; i < reference.size(); ++i)
            qToBigEndian(quint16(reference.at(i).unicode()), block.data() + 2 + 2 * i);
        entries += block;
        ++count;
    }
    QByteArray header(kBlockSize, '\0');
    qToBigEndian(count, header.data());
    memcpy(header.data() + 4, kSignature, sizeof kSignature - 1);
    return header + entries;
}

VtrFileInfoPtr VtrMusicPlaylist_iriver::writeOne(const QString &playlistPath, const QList<VtrPlaylistTrack> &tracks)
{
    return writeFileToDevice(playlistPath, playlistData(tracks, playlistPath));
}
