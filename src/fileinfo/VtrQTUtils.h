#pragma once

#include "fileinfo/VtrFileInfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

// A movie or sound file opened for reading through libavformat: from a path
// or from bytes in memory, always through vtr::GuardedMediaInput (plain
// containers only, nothing the file names is opened). Each operation that
// reads the media opens its own reader, so one VtrMovie can be asked and
// exported several times.
class VtrMovie
{
public:
    // nullptr when the file cannot be read as a movie; `error` (optional)
    // then holds the reason.
    static std::unique_ptr<VtrMovie> movieWithFile(const QString &path, QString *error = nullptr);
    // `filename` only helps to recognise the format.
    static std::unique_ptr<VtrMovie> movieWithData(const QByteArray &data, const QString &filename,
                                                   QString *error = nullptr);
    ~VtrMovie();
    VtrMovie(const VtrMovie &) = delete;
    VtrMovie &operator=(const VtrMovie &) = delete;

    QString path() const { return m_path; }
    // Video tracks (cover pictures attached to sound files do not count)
    // and sound tracks.
    int numVideoTracks() const { return m_numVideo; }
    int numAudioTracks() const { return m_numAudio; }
    bool hasVideo() const { return m_numVideo > 0; }
    bool hasAudio() const { return m_numAudio > 0; }

    struct Source;

private:
    VtrMovie() = default;
    friend class VtrQTUtils;
    static std::unique_ptr<VtrMovie> open(std::unique_ptr<Source> source, QString *error);

    QString m_path;
    std::unique_ptr<Source> m_source;
    int m_numVideo = 0;
    int m_numAudio = 0;
};

// A movie export kind: the sub-type that names it, its maker's code and the
// container it writes.
struct VtrMovieExportComponent
{
    quint32 subtype;
    quint32 manufacturer;
    const char *muxer; // libavformat's name of the output format
};

// Decides which files are sound, movies and still images, and answers
// questions about movies through libavformat / libavcodec. Never
// instantiated; every method may be called from any thread.
//
// The extension tables are fixed (see the .cpp for what each holds) and
// compared without regard to case. Deciding by extension never opens the file.
class VtrQTUtils
{
public:
    VtrQTUtils() = delete;

    static constexpr quint32 fourCharCode(const char (&code)[5])
    {
        return (quint32(quint8(code[0])) << 24) | (quint32(quint8(code[1])) << 16) | (quint32(quint8(code[2])) << 8) |
               quint32(quint8(code[3]));
    }

    // One-time set-up: builds the lists and quietens the media library's
    // own console output.
    static void initialize();

    // ---- classification

    static QStringList audioFileExtensions();
    // What a desktop player plays, by extension (lower case): every sound
    // format it knows, and the containers that usually hold a video. Wider
    // than the lists above, which are what the migrators take.
    static const QSet<QString> &playableSoundExtensions();
    static const QSet<QString> &playableVideoExtensions();
    // Every file kind the movie reader takes as a matter of course: movies and
    // the common sound formats.
    static QStringList movieFileTypes();
    // movieFileTypes() without quoted type codes; without `includeAudio` also
    // without the sound (and other non-movie) extensions.
    static QStringList mediaFileExtensions(bool includeAudio);
    static QStringList movieFileExtensions() { return mediaFileExtensions(false); }
    static QStringList stillImageTypes();
    static QStringList stillImageExtensions();

    static bool isStillImageFile(const VtrFileInfo &fileInfo);
    // True when the extension (of the item or its symbolic link's target, or
    // `fileExtension` when not null) is a movie extension, or a sound
    // extension when `audioOnly` is given; never for "pdf". With `audioOnly`
    // the file is opened (sound extensions excepted) to learn whether it has
    // sound only; a file that cannot be read still counts by its extension.
    static bool isMovieFile(const VtrFileInfo &fileInfo, bool *audioOnly)
    {
        return isMovieFile(fileInfo, QString(), audioOnly);
    }
    static bool isMovieFile(const VtrFileInfo &fileInfo, const QString &fileExtension, bool *audioOnly);
    // Sound tracks and no video track.
    static bool isMovieAudioOnly(const VtrMovie &movie);
    // Copy protection: "m4p" files are protected; "m4v" and "m4b" files when
    // a sound or video track has the protected sample entry "drms" or "drmi";
    // nothing else is opened or protected. A file that cannot be read is not.
    static bool isProtectedFile(const VtrFileInfo &fileInfo);

    // No file-based metadata is kept: always an empty map ("none").
    static QVariantMap metadataForFile(const VtrFileInfo &fileInfo);
    static void setMetadata(const QVariantMap &metadata, const VtrFileInfo &fileInfo);

    // ---- movie information

    // The movie information of the file: "numVideoTracks", "numAudioTracks"
    // (uint), "width", "height" (double, pixels), "videoDataRate",
    // "audioDataRate" (double, kilobits per second), "frameRate" (double),
    // "encoderName" (QString), "h264Profile" (uint), "codecType" (uint, the
    // four-character code, first character most significant),
    // "audioSampleRate" (qint64), or only "error" (QString) when the file
    // cannot be read as a movie. A key is absent when there is no value.
    static QVariantMap infoForMovieAtPath(const QString &path);
    // The same, copied to each given out-parameter (0 or null when absent).
    static void infoForMovieAtPath(const QString &path, quint32 *outCodecType, double *outVideoDataRate,
                                   double *outAudioDataRate, int *outAudioSampleRate, double *outWidth,
                                   double *outHeight, QString *outEncoderName, int *outH264Profile,
                                   int *outNumVideoTracks, int *outNumAudioTracks, double *outFrameRate);

    // ---- export

    // The export kinds: 'WAVE' (the sound as 16-bit PCM), 'MooV', 'mpg4' and
    // '3gpp' (the tracks copied unchanged into that container). nullptr for
    // any other sub-type.
    static const VtrMovieExportComponent *movieExportComponentWithSubtype(quint32 subtype);
    // Writes the movie to `path` in the kind `componentSubtype`, replacing an
    // existing file only when the export is complete. The kinds here take no
    // settings: `exportSettings` is accepted and not used.
    static bool exportMovie(const VtrMovie &movie, const QString &path, const QByteArray &exportSettings,
                            quint32 componentSubtype);
    // The movie's first sound track as the bytes of a WAVE file (16-bit PCM,
    // the track's rate and channels); empty when there is no sound or it
    // cannot be decoded.
    static QByteArray wavFromMovie(const VtrMovie &movie);
    // nullptr for null data.
    static std::unique_ptr<VtrMovie> movieFromData(const QByteArray &data, const QString &filename);

    // Logs the tree of a settings container below `atom` (0 for the root).
    static void dumpAtomInfo(qint32 atom, quint32 atomType, const QByteArray &settings);

    // Nothing needs entering on this platform.
    static void enterQTKitOnThread() {}
    static void exitQTKitOnThread() {}
};

// Reads and rewrites a settings container: a tree of atoms, each a 20-byte
// big-endian header (size including header and children, type, ID, 2
// reserved bytes, child count, 4 reserved bytes) followed by its data or its
// children, behind a 12-byte container header. An atom is named by its
// offset in the container (0 is the root).
class QTSettings
{
public:
    explicit QTSettings(const QByteArray &atomContainer);

    // Rebuilds the table of atoms (a later atom of a type replaces an earlier one).
    void parseAtoms();
    // The container, with every rewrite made so far.
    const QByteArray &atoms() const { return m_container; }
    // {"atom": offset (qint32), "type": the type (qlonglong), "data": the
    // atom's bytes}; nullopt when no atom has that type.
    std::optional<QVariantMap> atomInfoWithType(quint32 type) const;
    qint32 atomWithType(quint32 type) const;
    // Replaces the data of a leaf atom with bytes of the same length.
    bool setAtomData(qint32 atom, const QByteArray &data);

    // The built-in H.264 export template with the values filled in (each
    // only when given: sizes and rates >= 0, the sample rate > 0 and snapped
    // to 32000, 44100 or 48000).
    static QByteArray h264SettingsWithWidth(int width, int height, double frameRate, int videoDataRate,
                                            int audioDataRate, int audioSampleRate);
    // The container of that template before anything is filled in.
    static QByteArray h264Template();

    // Children of a container atom: (offset, type) in order.
    QList<QPair<qint32, quint32>> childAtoms(qint32 atom) const;
    QByteArray atomData(qint32 atom) const;

private:
    void parseAtom(qint32 atom);

    QByteArray m_container;
    QHash<QString, QVariantMap> m_atoms;
};
