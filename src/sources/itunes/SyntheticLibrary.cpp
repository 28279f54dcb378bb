#include "sources/itunes/SyntheticLibrary.h"

#include "sources/host/LibraryLocation.h"

#include <QDateTime>
#include <QVariantList>

namespace vtr {

QVariantMap syntheticMusicLibrary(int trackCount, int playlistCount)
{
    static const char *const kGenres[] = {"Rock", "Jazz", "Classical", "Hip-Hop", "Électronique", "Folk", "Pop"};
    const QDateTime base(QDate(2010, 3, 14), QTime(9, 26, 53), Qt::UTC);
    QVariantMap tracks;
    for (int i = 0; i < trackCount; ++i) {
        const int id = 1000 + 2 * i;
        const QString artist = QStringLiteral("Artist %1").arg(i % 700);
        const QString album = QStringLiteral("Album %1 & Friends").arg(i % 1800);
        const QString name = QStringLiteral("Song %1 \u2013 Take %2").arg(i).arg(i % 7);
        QVariantMap t{{QStringLiteral("Track ID"), id},
                      {QStringLiteral("Name"), name},
                      {QStringLiteral("Artist"), artist},
                      {QStringLiteral("Album Artist"), artist},
                      {QStringLiteral("Album"), album},
                      {QStringLiteral("Genre"), QString::fromUtf8(kGenres[i % 7])},
                      {QStringLiteral("Kind"), QStringLiteral("MPEG audio file")},
                      {QStringLiteral("Size"), qint64(3000000 + (i * 7919) % 9000000)},
                      {QStringLiteral("Total Time"), 120000 + (i * 31) % 300000},
                      {QStringLiteral("Track Number"), 1 + i % 14},
                      {QStringLiteral("Track Count"), 14},
                      {QStringLiteral("Year"), 1960 + i % 60},
                      {QStringLiteral("Date Modified"), base.addSecs(i * 61)},
                      {QStringLiteral("Date Added"), base.addSecs(i * 67)},
                      {QStringLiteral("Bit Rate"), 256},
                      {QStringLiteral("Sample Rate"), 44100},
                      {QStringLiteral("Play Count"), i % 40},
                      {QStringLiteral("Play Date"), qint64(3400000000LL + i)},
                      {QStringLiteral("Play Date UTC"), base.addDays(i % 900)},
                      {QStringLiteral("Artwork Count"), 1},
                      {QStringLiteral("Persistent ID"), QStringLiteral("%1").arg(0xA1B2C3D400000000ULL + quint64(i), 16, 16, QLatin1Char('0')).toUpper()},
                      {QStringLiteral("Track Type"), QStringLiteral("File")},
                      {QStringLiteral("File Folder Count"), 5},
                      {QStringLiteral("Library Folder Count"), 1}};
        QString file = QStringLiteral("/Users/person/Music/iTunes/iTunes Media/Music/%1/%2/%3.mp3").arg(artist, album, name);
        if (i % 50 == 7) {
            t.insert(QStringLiteral("Podcast"), true);
            t.insert(QStringLiteral("Album"), QStringLiteral("Podcast %1").arg(i % 9));
            file = QStringLiteral("/Users/person/Music/iTunes/iTunes Media/Podcasts/%1.mp3").arg(name);
        } else if (i % 40 == 3) {
            t.insert(QStringLiteral("Has Video"), true);
            t.insert(QStringLiteral("Movie"), true);
            t.insert(QStringLiteral("Kind"), QStringLiteral("MPEG-4 video file"));
            file = QStringLiteral("/Users/person/Music/iTunes/iTunes Media/Movies/%1.m4v").arg(name);
        }
        t.insert(QStringLiteral("Location"), libraryLocationForLocalPath(file));
        tracks.insert(QString::number(id), t);
    }

    auto items = [&](int first, int count) {
        QVariantList list;
        for (int k = 0; k < count && trackCount > 0; ++k)
            list.append(QVariantMap{{QStringLiteral("Track ID"), 1000 + 2 * ((first + k * 37) % trackCount)}});
        return list;
    };
    QVariantList playlists;
    playlists.append(QVariantMap{{QStringLiteral("Name"), QStringLiteral("Library")},
                                 {QStringLiteral("Master"), true},
                                 {QStringLiteral("Visible"), false},
                                 {QStringLiteral("All Items"), true},
                                 {QStringLiteral("Playlist ID"), 1},
                                 {QStringLiteral("Playlist Persistent ID"), QStringLiteral("00000000000000FF")},
                                 {QStringLiteral("Playlist Items"), items(0, trackCount)}});
    QString folderID;
    for (int p = 0; p < playlistCount; ++p) {
        const QString persistentID = QStringLiteral("%1").arg(0xB000000000000000ULL + quint64(p), 16, 16, QLatin1Char('0')).toUpper();
        QVariantMap playlist{{QStringLiteral("Name"), QStringLiteral("Playlist %1").arg(p)},
                             {QStringLiteral("Playlist ID"), 10 + p},
                             {QStringLiteral("Playlist Persistent ID"), persistentID},
                             {QStringLiteral("All Items"), true}};
        if (p % 25 == 0) {
            playlist.insert(QStringLiteral("Folder"), true);
            folderID = persistentID;
        } else if (!folderID.isEmpty() && p % 25 < 4) {
            playlist.insert(QStringLiteral("Parent Persistent ID"), folderID);
        }
        if (p % 10 == 5) playlist.insert(QStringLiteral("Smart Info"), QByteArray("\x00\x01smart", 7));
        playlist.insert(QStringLiteral("Playlist Items"), items(p * 13, 40));
        playlists.append(playlist);
    }
    return {{QStringLiteral("Major Version"), 1},
            {QStringLiteral("Minor Version"), 1},
            {QStringLiteral("Application Version"), QStringLiteral("10.1.1")},
            {QStringLiteral("Date"), base},
            {QStringLiteral("Features"), 5},
            {QStringLiteral("Show Content Ratings"), true},
            {QStringLiteral("Music Folder"),
             libraryLocationForLocalPath(QStringLiteral("/Users/person/Music/iTunes/iTunes Media"), true)},
            {QStringLiteral("Library Persistent ID"), QStringLiteral("5A3F1E0C9B7D2468")},
            {QStringLiteral("Tracks"), tracks},
            {QStringLiteral("Playlists"), playlists}};
}

}  // namespace vtr
