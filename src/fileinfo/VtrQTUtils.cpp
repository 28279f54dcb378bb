#include "fileinfo/VtrQTUtils.h"

#include "fileinfo/GuardedMediaInput.h"
#include "foundation/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mem.h>
}

// ---- extension tables
//
// The file kinds the original system's movie framework listed are not
// available here, so the tables are fixed. All entries are lower case.
namespace {

// Sound files the music migrators take (and the sound test answers without
// opening the file).
const QStringList &audioTable()
{
    static const QStringList list = {QStringLiteral("mp3"), QStringLiteral("m4a"),  QStringLiteral("m4p"),
                                     QStringLiteral("aif"), QStringLiteral("aiff"), QStringLiteral("aac"),
                                     QStringLiteral("wav"), QStringLiteral("aa"),   QStringLiteral("aax"),
                                     QStringLiteral("ac3"), QStringLiteral("aifc"), QStringLiteral("amr"),
                                     QStringLiteral("au"),  QStringLiteral("caf"),  QStringLiteral("m4r"),
                                     QStringLiteral("mid"), QStringLiteral("midi"), QStringLiteral("mp1"),
                                     QStringLiteral("mp2"), QStringLiteral("ogg"),  QStringLiteral("oga")};
    return list;
}

// What the movie reader takes as a matter of course: movie containers
// (MOV, MPEG-4 and 3GPP, AVI, MPEG program and elementary streams, DV,
// Windows Media video), then the common sound formats. Every sound entry is
// also in the non-movie list below, so that movieFileExtensions() holds
// movies only. Sound formats outside that list (Ogg, FLAC) are left out for
// the same reason: they would otherwise count as movies.
const QStringList &commonTypesTable()
{
    static const QStringList list = {
        QStringLiteral("mov"), QStringLiteral("qt"), QStringLiteral("mp4"), QStringLiteral("m4v"),
        QStringLiteral("3gp"), QStringLiteral("3gpp"), QStringLiteral("3g2"), QStringLiteral("avi"),
        QStringLiteral("mpg"), QStringLiteral("mpeg"), QStringLiteral("m1v"), QStringLiteral("m2v"),
        QStringLiteral("dv"), QStringLiteral("dif"), QStringLiteral("wmv"),
        // sound
        QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("m4p"),
        QStringLiteral("aac"), QStringLiteral("ac3"), QStringLiteral("aif"), QStringLiteral("aiff"),
        QStringLiteral("amr"), QStringLiteral("au"), QStringLiteral("caf"), QStringLiteral("mid"),
        QStringLiteral("midi"), QStringLiteral("wav"), QStringLiteral("wma")};
    return list;
}

// Still-image files the photo migrators take (JPEG, PNG, BMP, TIFF, HEIF,
// WebP): what a phone's camera roll holds must also be filed as a photo.
// "gif" is appended by stillImageTypes().
const QStringList &stillTable()
{
    static const QStringList list = {QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                     QStringLiteral("png"),  QStringLiteral("bmp"),  QStringLiteral("tif"),
                                     QStringLiteral("tiff"), QStringLiteral("heic"), QStringLiteral("heif"),
                                     QStringLiteral("webp")};
    return list;
}

// Entries of the common types that are not movies.
const QStringList &nonMovieTable()
{
    static const QStringList list = {QStringLiteral("aac"),  QStringLiteral("ac3"), QStringLiteral("aif"),
                                     QStringLiteral("aiff"), QStringLiteral("amr"), QStringLiteral("au"),
                                     QStringLiteral("caf"),  QStringLiteral("dat"), QStringLiteral("gif"),
                                     QStringLiteral("m3u"),  QStringLiteral("m4a"), QStringLiteral("m4b"),
                                     QStringLiteral("m4p"),  QStringLiteral("mid"), QStringLiteral("midi"),
                                     QStringLiteral("mp3"),  QStringLiteral("pdf"), QStringLiteral("snd"),
                                     QStringLiteral("swa"),  QStringLiteral("wav"), QStringLiteral("wma")};
    return list;
}

bool containsIgnoringCase(const QStringList &list, const QString &s)
{
    return list.contains(s, Qt::CaseInsensitive);
}

bool isQuotedTypeCode(const QString &s)
{
    return s.size() >= 2 && s.startsWith(QLatin1Char('\'')) && s.endsWith(QLatin1Char('\''));
}

// The libraries' four-character codes are little-endian ('a' lowest);
// ours put the first character in the most significant byte.
quint32 fromLibraryTag(unsigned int tag)
{
    return qbswap(quint32(tag));
}

} // namespace

// ---- opened media

// Where a movie's bytes come from.
struct VtrMovie::Source
{
    QString path;     // a file, or
    QByteArray data;  // bytes in memory
    QString filename; // helps recognise the format of the bytes
    bool inMemory = false;
};

namespace {

// One open reader of a movie, through the guarded opener: the movie reader
// is asked about files of phones, cards and brought libraries too.
class Reader
{
public:
    bool open(const VtrMovie::Source &source, QString *error)
    {
        if (source.inMemory) {
            m_memory = std::make_unique<vtr::MediaBytesInMemory>(source.data);
            m_input = vtr::GuardedMediaInput::openSource(*m_memory, source.filename, error);
        } else {
            m_input = vtr::GuardedMediaInput::openFile(source.path, error);
        }
        if (!m_input || !m_input->findStreamInfo(error)) return false;
        m_ctx = m_input->context();
        if (m_ctx->nb_streams == 0) return fail(error, QStringLiteral("no tracks"));
        return true;
    }

    // Reading every packet of a movie takes longer than opening it.
    void readWholeMovie() { m_input->extendDeadline(std::chrono::minutes(10)); }

    AVFormatContext *ctx() const { return m_ctx; }

    static bool isVideo(const AVStream *st)
    {
        return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
    }
    static bool isAudio(const AVStream *st) { return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO; }

    QList<AVStream *> streams(bool video) const
    {
        QList<AVStream *> list;
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            AVStream *st = m_ctx->streams[i];
            if (video ? isVideo(st) : isAudio(st)) list.append(st);
        }
        return list;
    }

private:
    static bool fail(QString *error, const QString &why)
    {
        if (error) *error = why;
        return false;
    }

    std::unique_ptr<vtr::MediaBytesInMemory> m_memory; // outlives the input reading it
    std::unique_ptr<vtr::GuardedMediaInput> m_input;
    AVFormatContext *m_ctx = nullptr;
};

// Bytes of every sample of the track, from the reader's sample table; 0 when
// the container keeps none.
qint64 trackDataSize(AVStream *st)
{
    qint64 total = 0;
    const int n = avformat_index_get_entries_count(st);
    for (int i = 0; i < n; ++i)
        if (const AVIndexEntry *e = avformat_index_get_entry(st, i)) total += e->size;
    return total;
}

// Kilobits per second from the track's data size and duration (each
// division an integer division, as the rate was always computed); where the
// container has no sample table, the rate its header declares; 0 when
// neither is known.
qint64 trackDataRate(AVStream *st)
{
    const qint64 size = trackDataSize(st);
    const qint64 duration = st->duration == AV_NOPTS_VALUE ? 0 : st->duration;
    if (size > 0 && duration > 0 && st->time_base.num > 0 && st->time_base.den > 0)
        return size * 8 * st->time_base.den / (duration * st->time_base.num) / 1000;
    return st->codecpar->bit_rate > 0 ? st->codecpar->bit_rate / 1000 : 0;
}

double frameRate(AVStream *st)
{
    qint64 count = st->nb_frames;
    if (count <= 0) count = avformat_index_get_entries_count(st);
    if (count > 0 && st->duration > 0 && st->duration != AV_NOPTS_VALUE && st->time_base.num > 0) {
        const double seconds = double(st->duration) * st->time_base.num / st->time_base.den;
        const double rate = double(count) / seconds;
        if (rate > 0 && std::isfinite(rate)) return rate;
    }
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) return av_q2d(st->avg_frame_rate);
    if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0) return av_q2d(st->r_frame_rate);
    return 0.0;
}

std::once_flag g_initOnce;

void initLibraries()
{
    std::call_once(g_initOnce, [] {
        // Damaged files are an answer here, not a console message.
        av_log_set_level(AV_LOG_QUIET);
        (void)VtrQTUtils::movieFileExtensions();
    });
}

constexpr quint32 kProtectedAudioTag = VtrQTUtils::fourCharCode("drms");
constexpr quint32 kProtectedVideoTag = VtrQTUtils::fourCharCode("drmi");

} // namespace

VtrMovie::~VtrMovie() = default;

std::unique_ptr<VtrMovie> VtrMovie::open(std::unique_ptr<Source> source, QString *error)
{
    initLibraries();
    Reader reader;
    if (!reader.open(*source, error)) return nullptr;
    std::unique_ptr<VtrMovie> movie(new VtrMovie);
    movie->m_numVideo = int(reader.streams(true).size());
    movie->m_numAudio = int(reader.streams(false).size());
    movie->m_path = source->inMemory ? QString() : source->path;
    movie->m_source = std::move(source);
    return movie;
}

std::unique_ptr<VtrMovie> VtrMovie::movieWithFile(const QString &path, QString *error)
{
    auto source = std::make_unique<Source>();
    source->path = path;
    return open(std::move(source), error);
}

std::unique_ptr<VtrMovie> VtrMovie::movieWithData(const QByteArray &data, const QString &filename, QString *error)
{
    auto source = std::make_unique<Source>();
    source->data = data;
    source->filename = filename;
    source->inMemory = true;
    return open(std::move(source), error);
}

// ---- classification

void VtrQTUtils::initialize()
{
    initLibraries();
}

QStringList VtrQTUtils::audioFileExtensions()
{
    return audioTable();
}

const QSet<QString> &VtrQTUtils::playableSoundExtensions()
{
    static const QSet<QString> sound = {
        QStringLiteral("mp3"),  QStringLiteral("mp2"),  QStringLiteral("mp1"),  QStringLiteral("mpga"),
        QStringLiteral("m4a"),  QStringLiteral("m4b"),  QStringLiteral("m4p"),  QStringLiteral("m4r"),
        QStringLiteral("aac"),  QStringLiteral("adts"), QStringLiteral("ac3"),  QStringLiteral("eac3"),
        QStringLiteral("aif"),  QStringLiteral("aiff"), QStringLiteral("aifc"), QStringLiteral("wav"),
        QStringLiteral("wave"), QStringLiteral("w64"),  QStringLiteral("au"),   QStringLiteral("snd"),
        QStringLiteral("caf"),  QStringLiteral("amr"),  QStringLiteral("awb"),  QStringLiteral("mid"),
        QStringLiteral("midi"), QStringLiteral("kar"),  QStringLiteral("flac"), QStringLiteral("ogg"),
        QStringLiteral("oga"),  QStringLiteral("opus"), QStringLiteral("spx"),  QStringLiteral("mka"),
        QStringLiteral("wma"),  QStringLiteral("wv"),   QStringLiteral("ape"),  QStringLiteral("mpc"),
        QStringLiteral("tta"),  QStringLiteral("dsf"),  QStringLiteral("dff"),  QStringLiteral("ra")};
    return sound;
}

const QSet<QString> &VtrQTUtils::playableVideoExtensions()
{
    static const QSet<QString> video = {
        QStringLiteral("mp4"), QStringLiteral("m4v"),  QStringLiteral("mov"),  QStringLiteral("qt"),
        QStringLiteral("3gp"), QStringLiteral("3gpp"), QStringLiteral("3g2"),  QStringLiteral("avi"),
        QStringLiteral("mpg"), QStringLiteral("mpeg"), QStringLiteral("mpe"),  QStringLiteral("m1v"),
        QStringLiteral("m2v"), QStringLiteral("vob"),  QStringLiteral("ts"),   QStringLiteral("m2ts"),
        QStringLiteral("mts"), QStringLiteral("dv"),   QStringLiteral("dif"),  QStringLiteral("wmv"),
        QStringLiteral("asf"), QStringLiteral("mkv"),  QStringLiteral("webm"), QStringLiteral("ogv"),
        QStringLiteral("ogm"), QStringLiteral("flv"),  QStringLiteral("f4v"),  QStringLiteral("divx"),
        QStringLiteral("rm"),  QStringLiteral("rmvb")};
    return video;
}

QStringList VtrQTUtils::movieFileTypes()
{
    return commonTypesTable();
}

QStringList VtrQTUtils::mediaFileExtensions(bool includeAudio)
{
    QStringList list = movieFileTypes();
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (isQuotedTypeCode(list.at(i)) || (!includeAudio && containsIgnoringCase(nonMovieTable(), list.at(i))))
            list.removeAt(i);
    }
    return list;
}

QStringList VtrQTUtils::stillImageTypes()
{
    QStringList list;
    for (const QString &t : stillTable())
        if (!containsIgnoringCase(movieFileTypes(), t)) list.append(t);
    if (!list.contains(QLatin1String("gif"))) list.append(QStringLiteral("gif"));
    return list;
}

QStringList VtrQTUtils::stillImageExtensions()
{
    QStringList list;
    for (const QString &t : stillImageTypes())
        if (!isQuotedTypeCode(t) && t != QLatin1String("gif")) list.append(t);
    list.append(QStringLiteral("gif"));
    return list;
}

bool VtrQTUtils::isStillImageFile(const VtrFileInfo &fileInfo)
{
    const QStringList types = stillImageTypes();
    const QString ext = fileInfo.extension();
    if (!ext.isEmpty() && containsIgnoringCase(types, ext)) return true;
    const QString code = fileInfo.typeCodeString();
    return !code.isEmpty() && types.contains(code);
}

bool VtrQTUtils::isMovieFile(const VtrFileInfo &fileInfo, const QString &fileExtension, bool *audioOnly)
{
    if (audioOnly) *audioOnly = false;
    const VtrFileInfo resolved = fileInfo.resolvedFileInfo();
    const QString ext = (fileExtension.isNull() ? resolved.extension() : fileExtension).toLower();
    bool isMedia = false;
    try {
        isMedia = !ext.isEmpty() && mediaFileExtensions(audioOnly != nullptr).contains(ext);
        if (isMedia && audioOnly) {
            if (audioTable().contains(ext)) {
                *audioOnly = true;
            } else {
                QString error;
                const std::unique_ptr<VtrMovie> movie = VtrMovie::movieWithFile(resolved.path(), &error);
                if (movie) {
                    *audioOnly = resolved.extension().compare(QLatin1String("wmv"), Qt::CaseInsensitive) != 0 &&
                                 isMovieAudioOnly(*movie);
                }
            }
        }
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Movie test of \"%1\" failed: %2").arg(resolved.path(), QString::fromUtf8(e.what())));
    }
    if (!isMedia) return false;
    if (ext.isEmpty()) return true;
    return ext != QLatin1String("pdf");
}

bool VtrQTUtils::isMovieAudioOnly(const VtrMovie &movie)
{
    return movie.hasAudio() && !movie.hasVideo();
}

bool VtrQTUtils::isProtectedFile(const VtrFileInfo &fileInfo)
{
    const VtrFileInfo resolved = VtrFileInfo(fileInfo.path()).resolvedFileInfo();
    const QString ext = resolved.extension().toLower();
    if (ext == QLatin1String("m4p")) return true;
    if (ext != QLatin1String("m4v") && ext != QLatin1String("m4b")) return false;
    try {
        initLibraries();
        VtrMovie::Source source;
        source.path = resolved.path();
        Reader reader;
        if (!reader.open(source, nullptr)) return false;
        AVFormatContext *ctx = reader.ctx();
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            const AVStream *st = ctx->streams[i];
            if (!Reader::isVideo(st) && !Reader::isAudio(st)) continue;
            const quint32 tag = fromLibraryTag(st->codecpar->codec_tag);
            if (tag == kProtectedAudioTag || tag == kProtectedVideoTag) return true;
        }
    } catch (const std::exception &e) {
        VTR_LOG(
            1,
            QStringLiteral("Protection test of \"%1\" failed: %2").arg(resolved.path(), QString::fromUtf8(e.what())));
    }
    return false;
}

QVariantMap VtrQTUtils::metadataForFile(const VtrFileInfo &)
{
    return QVariantMap();
}

void VtrQTUtils::setMetadata(const QVariantMap &, const VtrFileInfo &) {}

// ---- movie information

QVariantMap VtrQTUtils::infoForMovieAtPath(const QString &path)
{
    initLibraries();
    QVariantMap info;
    VtrMovie::Source source;
    source.path = path;
    Reader reader;
    QString error;
    if (!reader.open(source, &error)) {
        info.insert(QStringLiteral("error"), error);
        VTR_LOG(2, QStringLiteral("Getting info for movie: opening movie file \"%1\" failed: %2").arg(path, error));
        return info;
    }
    const QList<AVStream *> video = reader.streams(true);
    const QList<AVStream *> audio = reader.streams(false);
    info.insert(QStringLiteral("numVideoTracks"), uint(video.size()));
    info.insert(QStringLiteral("numAudioTracks"), uint(audio.size()));

    if (video.size() == 1) {
        AVStream *st = video.first();
        if (st->codecpar->width > 0 && st->codecpar->height > 0) {
            info.insert(QStringLiteral("width"), double(st->codecpar->width));
            info.insert(QStringLiteral("height"), double(st->codecpar->height));
        }
        const qint64 rate = trackDataRate(st);
        if (rate > 0) info.insert(QStringLiteral("videoDataRate"), double(rate));
        const double fps = frameRate(st);
        if (fps > 0) info.insert(QStringLiteral("frameRate"), fps);
        if (st->codecpar->codec_tag != 0)
            info.insert(QStringLiteral("codecType"), uint(fromLibraryTag(st->codecpar->codec_tag)));
        if (const AVDictionaryEntry *e = av_dict_get(st->metadata, "encoder", nullptr, 0)) {
            const QString name = QString::fromUtf8(e->value);
            if (!name.isEmpty()) info.insert(QStringLiteral("encoderName"), name);
        }
        if (st->codecpar->codec_id == AV_CODEC_ID_H264 && st->codecpar->extradata_size >= 2 &&
            st->codecpar->extradata[0] == 1)
            info.insert(QStringLiteral("h264Profile"), uint(st->codecpar->extradata[1]));
    }
    if (video.size() <= 1) {
        qint64 best = 0;
        for (AVStream *st : audio) {
            info.insert(QStringLiteral("audioSampleRate"), qint64(st->codecpar->sample_rate));
            best = std::max(best, trackDataRate(st));
        }
        info.insert(QStringLiteral("audioDataRate"), double(best));
    }
    // The natural size: the largest frame of the video tracks.
    int width = 0, height = 0;
    for (AVStream *st : video) {
        width = std::max(width, st->codecpar->width);
        height = std::max(height, st->codecpar->height);
    }
    if (width > 0 && height > 0) {
        info.insert(QStringLiteral("width"), double(width));
        info.insert(QStringLiteral("height"), double(height));
    }
    return info;
}

void VtrQTUtils::infoForMovieAtPath(const QString &path, quint32 *outCodecType, double *outVideoDataRate,
                                    double *outAudioDataRate, int *outAudioSampleRate, double *outWidth,
                                    double *outHeight, QString *outEncoderName, int *outH264Profile,
                                    int *outNumVideoTracks, int *outNumAudioTracks, double *outFrameRate)
{
    const QVariantMap info = infoForMovieAtPath(path);
    auto num = [&info](const char *key) { return info.value(QLatin1String(key)); };
    if (outCodecType) *outCodecType = num("codecType").toUInt();
    if (outVideoDataRate) *outVideoDataRate = num("videoDataRate").toDouble();
    if (outAudioDataRate) *outAudioDataRate = num("audioDataRate").toDouble();
    if (outAudioSampleRate) *outAudioSampleRate = num("audioSampleRate").toInt();
    if (outWidth) *outWidth = num("width").toDouble();
    if (outHeight) *outHeight = num("height").toDouble();
    if (outEncoderName) *outEncoderName = num("encoderName").toString();
    if (outH264Profile) *outH264Profile = num("h264Profile").toInt();
    if (outNumVideoTracks) *outNumVideoTracks = num("numVideoTracks").toInt();
    if (outNumAudioTracks) *outNumAudioTracks = num("numAudioTracks").toInt();
    if (outFrameRate) *outFrameRate = num("frameRate").toDouble();
}

// ---- export

namespace {

constexpr quint32 kWaveSubtype = VtrQTUtils::fourCharCode("WAVE");
// Our own maker's code for the export kinds of this system.
constexpr quint32 kOwnManufacturer = VtrQTUtils::fourCharCode("vtrl");

const VtrMovieExportComponent kExportComponents[] = {
    {kWaveSubtype, kOwnManufacturer, "wav"},
    {VtrQTUtils::fourCharCode("MooV"), kOwnManufacturer, "mov"},
    {VtrQTUtils::fourCharCode("mpg4"), kOwnManufacturer, "mp4"},
    {VtrQTUtils::fourCharCode("3gpp"), kOwnManufacturer, "3gp"},
};

inline qint16 clampSample(double v)
{
    const double s = std::lround(v * 32767.0);
    return qint16(std::clamp(s, -32768.0, 32767.0));
}

// Appends one decoded frame as interleaved 16-bit samples.
bool appendFrame(const AVFrame *frame, int channels, QByteArray &out)
{
    const auto format = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const int n = frame->nb_samples;
    const qsizetype start = out.size();
    out.resize(start + qsizetype(n) * channels * 2);
    auto *dst = reinterpret_cast<uchar *>(out.data() + start);
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c) {
            const uint8_t *plane = frame->extended_data[planar ? c : 0];
            const int idx = planar ? i : i * channels + c;
            qint16 s = 0;
            switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_U8:
                s = qint16((int(plane[idx]) - 128) << 8);
                break;
            case AV_SAMPLE_FMT_S16:
                s = reinterpret_cast<const qint16 *>(plane)[idx];
                break;
            case AV_SAMPLE_FMT_S32:
                s = qint16(reinterpret_cast<const qint32 *>(plane)[idx] >> 16);
                break;
            case AV_SAMPLE_FMT_S64:
                s = qint16(reinterpret_cast<const qint64 *>(plane)[idx] >> 48);
                break;
            case AV_SAMPLE_FMT_FLT:
                s = clampSample(reinterpret_cast<const float *>(plane)[idx]);
                break;
            case AV_SAMPLE_FMT_DBL:
                s = clampSample(reinterpret_cast<const double *>(plane)[idx]);
                break;
            default:
                return false;
            }
            qToLittleEndian(s, dst);
            dst += 2;
        }
    }
    return true;
}

QByteArray waveHeader(int channels, int sampleRate, quint32 dataBytes)
{
    QByteArray h(44, '\0');
    auto *p = reinterpret_cast<uchar *>(h.data());
    std::memcpy(p, "RIFF", 4);
    qToLittleEndian<quint32>(36 + dataBytes, p + 4);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, p + 16);
    qToLittleEndian<quint16>(1, p + 20); // PCM
    qToLittleEndian<quint16>(quint16(channels), p + 22);
    qToLittleEndian<quint32>(quint32(sampleRate), p + 24);
    qToLittleEndian<quint32>(quint32(sampleRate) * quint32(channels) * 2, p + 28);
    qToLittleEndian<quint16>(quint16(channels * 2), p + 32);
    qToLittleEndian<quint16>(16, p + 34);
    std::memcpy(p + 36, "data", 4);
    qToLittleEndian<quint32>(dataBytes, p + 40);
    return h;
}

struct CodecContextDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};

// Stream copy of every sound and video track into `muxer`, written to `path`.
bool remux(const VtrMovie::Source &source, const char *muxer, const QString &path)
{
    Reader reader;
    if (!reader.open(source, nullptr)) return false;
    reader.readWholeMovie();
    AVFormatContext *in = reader.ctx();
    AVFormatContext *out = nullptr;
    const QByteArray target = QFile::encodeName(path);
    if (avformat_alloc_output_context2(&out, nullptr, muxer, target.constData()) < 0 || !out) return false;
    bool ok = true;
    QList<int> map(int(in->nb_streams), -1);
    for (unsigned i = 0; i < in->nb_streams && ok; ++i) {
        AVStream *st = in->streams[i];
        if (!Reader::isVideo(st) && !Reader::isAudio(st)) continue;
        AVStream *os = avformat_new_stream(out, nullptr);
        ok = os && avcodec_parameters_copy(os->codecpar, st->codecpar) >= 0;
        if (ok) {
            os->codecpar->codec_tag = 0;
            os->time_base = st->time_base;
            map[int(i)] = os->index;
        }
    }
    ok = ok && out->nb_streams > 0;
    if (ok) ok = avio_open(&out->pb, target.constData(), AVIO_FLAG_WRITE) >= 0;
    const bool opened = ok;
    if (ok) ok = avformat_write_header(out, nullptr) >= 0;
    if (ok) {
        std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
        ok = pkt != nullptr;
        while (ok && av_read_frame(in, pkt.get()) >= 0) {
            const int si = pkt->stream_index;
            if (si < 0 || si >= map.size() || map[si] < 0) {
                av_packet_unref(pkt.get());
                continue;
            }
            AVStream *os = out->streams[map[si]];
            av_packet_rescale_ts(pkt.get(), in->streams[si]->time_base, os->time_base);
            pkt->stream_index = os->index;
            pkt->pos = -1;
            ok = av_interleaved_write_frame(out, pkt.get()) >= 0;
            av_packet_unref(pkt.get());
        }
        if (ok) ok = av_write_trailer(out) >= 0;
    }
    if (opened) avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

QByteArray decodeToWave(const VtrMovie::Source &source)
{
    Reader reader;
    if (!reader.open(source, nullptr)) return QByteArray();
    reader.readWholeMovie();
    AVFormatContext *ctx = reader.ctx();
    const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return QByteArray();
    AVStream *st = ctx->streams[index];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return QByteArray();
    std::unique_ptr<AVCodecContext, CodecContextDeleter> dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0 ||
        avcodec_open2(dec.get(), codec, nullptr) < 0)
        return QByteArray();
    std::unique_ptr<AVPacket, PacketDeleter> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!pkt || !frame) return QByteArray();

    QByteArray samples;
    int channels = 0, rate = 0;
    bool ok = true;
    auto drain = [&]() {
        for (;;) {
            const int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
            if (rc < 0) {
                ok = false;
                return;
            }
            if (channels == 0) {
                channels = frame->ch_layout.nb_channels;
                rate = frame->sample_rate;
            }
            // A change of layout midway cannot be written into one WAVE file.
            if (channels <= 0 || frame->ch_layout.nb_channels != channels ||
                !appendFrame(frame.get(), channels, samples))
                ok = false;
            av_frame_unref(frame.get());
            if (!ok) return;
        }
    };
    while (ok && av_read_frame(ctx, pkt.get()) >= 0) {
        if (pkt->stream_index == index && avcodec_send_packet(dec.get(), pkt.get()) >= 0) drain();
        av_packet_unref(pkt.get());
    }
    if (ok) {
        avcodec_send_packet(dec.get(), nullptr);
        drain();
    }
    constexpr qint64 kMaxWaveData = 0xFFFFFFFFLL - 36;
    if (!ok || channels <= 0 || rate <= 0 || samples.size() > kMaxWaveData) return QByteArray();
    return waveHeader(channels, rate, quint32(samples.size())) + samples;
}

} // namespace

const VtrMovieExportComponent *VtrQTUtils::movieExportComponentWithSubtype(quint32 subtype)
{
    for (const VtrMovieExportComponent &c : kExportComponents)
        if (c.subtype == subtype) return &c;
    return nullptr;
}

bool VtrQTUtils::exportMovie(const VtrMovie &movie, const QString &path, const QByteArray &, quint32 componentSubtype)
{
    const VtrMovieExportComponent *component = movieExportComponentWithSubtype(componentSubtype);
    if (!component || !movie.m_source || path.isEmpty()) return false;
    try {
        if (component->subtype == kWaveSubtype) {
            const QByteArray wave = wavFromMovie(movie);
            if (wave.isEmpty()) return false;
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(wave) != wave.size()) return false;
            return file.commit();
        }
        // Written beside the destination, which is replaced only by a
        // complete export.
        const QFileInfo target(path);
        QByteArray templ = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                             QStringLiteral(".vtrexport-XXXXXX"));
        const int fd = ::mkstemp(templ.data());
        if (fd < 0) return false;
        ::close(fd);
        const QString temp = QFile::decodeName(templ);
        if (!remux(*movie.m_source, component->muxer, temp) ||
            std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) != 0) {
            QFile::remove(temp);
            return false;
        }
        return true;
    } catch (const std::exception &e) {
        VTR_LOG(1, QStringLiteral("Export to \"%1\" failed: %2").arg(path, QString::fromUtf8(e.what())));
        return false;
    }
}

QByteArray VtrQTUtils::wavFromMovie(const VtrMovie &movie)
{
    if (!movie.m_source) return QByteArray();
    initLibraries();
    return decodeToWave(*movie.m_source);
}

std::unique_ptr<VtrMovie> VtrQTUtils::movieFromData(const QByteArray &data, const QString &filename)
{
    if (data.isNull()) return nullptr;
    return VtrMovie::movieWithData(data, filename);
}

// ---- settings containers

namespace {

constexpr int kContainerHeaderSize = 12;
constexpr int kAtomHeaderSize = 20;
constexpr quint32 kRootAtomType = VtrQTUtils::fourCharCode("sean");

QString typeString(quint32 type)
{
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s.append(QChar(ushort((type >> shift) & 0xFF)));
    return s;
}

struct AtomHeader
{
    quint32 size = 0;
    quint32 type = 0;
    quint32 id = 0;
    quint16 childCount = 0;
};

std::optional<AtomHeader> readHeader(const QByteArray &c, qint32 offset)
{
    if (offset < kContainerHeaderSize || qint64(offset) + kAtomHeaderSize > c.size()) return std::nullopt;
    const auto *p = reinterpret_cast<const uchar *>(c.constData()) + offset;
    AtomHeader h;
    h.size = qFromBigEndian<quint32>(p);
    h.type = qFromBigEndian<quint32>(p + 4);
    h.id = qFromBigEndian<quint32>(p + 8);
    h.childCount = qFromBigEndian<quint16>(p + 14);
    if (h.size < quint32(kAtomHeaderSize) || qint64(offset) + h.size > c.size()) return std::nullopt;
    return h;
}

// Builds containers: leaf atoms with data, container atoms with children.
struct AtomBuilder
{
    quint32 type;
    QByteArray data;
    QList<AtomBuilder> children;

    QByteArray bytes(quint32 id = 1) const
    {
        QByteArray body;
        if (children.isEmpty()) body = data;
        for (const AtomBuilder &child : children)
            body += child.bytes();
        QByteArray h(kAtomHeaderSize, '\0');
        auto *p = reinterpret_cast<uchar *>(h.data());
        qToBigEndian<quint32>(quint32(kAtomHeaderSize + body.size()), p);
        qToBigEndian<quint32>(type, p + 4);
        qToBigEndian<quint32>(id, p + 8);
        qToBigEndian<quint16>(quint16(children.size()), p + 14);
        return h + body;
    }
};

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian<quint32>(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

quint32 snapSampleRate(int rate)
{
    if (rate <= 32000) return 32000;
    if (rate <= 44100) return 44100;
    return 48000;
}

quint32 toFixed(double v)
{
    const double f = std::round(v * 65536.0);
    return quint32(
        qint32(std::clamp(f, double(std::numeric_limits<qint32>::min()), double(std::numeric_limits<qint32>::max()))));
}

} // namespace

QTSettings::QTSettings(const QByteArray &atomContainer) : m_container(atomContainer)
{
    parseAtoms();
}

QList<QPair<qint32, quint32>> QTSettings::childAtoms(qint32 atom) const
{
    QList<QPair<qint32, quint32>> list;
    const qint32 parent = atom == 0 ? kContainerHeaderSize : atom;
    const std::optional<AtomHeader> h = readHeader(m_container, parent);
    if (!h || h->childCount == 0) return list;
    qint32 offset = parent + kAtomHeaderSize;
    const qint64 end = qint64(parent) + h->size;
    for (int i = 0; i < h->childCount && offset < end; ++i) {
        const std::optional<AtomHeader> ch = readHeader(m_container, offset);
        if (!ch || qint64(offset) + ch->size > end) break;
        list.append(qMakePair(offset, ch->type));
        offset += qint32(ch->size);
    }
    return list;
}

QByteArray QTSettings::atomData(qint32 atom) const
{
    if (atom == 0) return QByteArray();
    const std::optional<AtomHeader> h = readHeader(m_container, atom);
    if (!h || h->childCount != 0) return QByteArray();
    return m_container.mid(atom + kAtomHeaderSize, qsizetype(h->size) - kAtomHeaderSize);
}

void QTSettings::parseAtom(qint32 atom)
{
    if (atom != 0) {
        const std::optional<AtomHeader> h = readHeader(m_container, atom);
        if (!h) return;
        if (h->childCount == 0) {
            QVariantMap entry;
            entry.insert(QStringLiteral("atom"), atom);
            entry.insert(QStringLiteral("type"), qlonglong(h->type));
            entry.insert(QStringLiteral("data"), atomData(atom));
            m_atoms.insert(typeString(h->type), entry);
        }
    }
    // By type in order of first appearance, then by index within the type.
    const QList<QPair<qint32, quint32>> children = childAtoms(atom);
    QList<quint32> types;
    for (const auto &c : children)
        if (!types.contains(c.second)) types.append(c.second);
    for (quint32 type : types)
        for (const auto &c : children)
            if (c.second == type) parseAtom(c.first);
}

void QTSettings::parseAtoms()
{
    m_atoms.clear();
    parseAtom(0);
}

std::optional<QVariantMap> QTSettings::atomInfoWithType(quint32 type) const
{
    const auto it = m_atoms.constFind(typeString(type));
    if (it == m_atoms.constEnd()) return std::nullopt;
    return *it;
}

qint32 QTSettings::atomWithType(quint32 type) const
{
    const std::optional<QVariantMap> info = atomInfoWithType(type);
    return info ? info->value(QStringLiteral("atom")).toInt() : 0;
}

bool QTSettings::setAtomData(qint32 atom, const QByteArray &data)
{
    const std::optional<AtomHeader> h = readHeader(m_container, atom);
    if (atom == 0 || !h || h->childCount != 0 || qsizetype(h->size) - kAtomHeaderSize != data.size()) return false;
    std::memcpy(m_container.data() + atom + kAtomHeaderSize, data.constData(), size_t(data.size()));
    parseAtoms();
    return true;
}

QByteArray QTSettings::h264Template()
{
    auto leaf = [](const char(&t)[5], const QByteArray &d) { return AtomBuilder{VtrQTUtils::fourCharCode(t), d, {}}; };
    QByteArray drat = be32(2000 * 1000 / 8) + QByteArray(12, '\0');
    QByteArray tprl = be32(0) + be32(toFixed(30.0)) + be32(0);
    AtomBuilder video{VtrQTUtils::fourCharCode("vide"),
                      {},
                      {leaf("wdth", be32(640u << 16)), leaf("hegt", be32(480u << 16)), leaf("iwdt", be32(640)),
                       leaf("ihgt", be32(480)), leaf("drat", drat), leaf("tprl", tprl),
                       leaf("vcod", be32(VtrQTUtils::fourCharCode("avc1")))}};
    AtomBuilder sound{VtrQTUtils::fourCharCode("soun"),
                      {},
                      {leaf("arat", be32(128000)), leaf("asrt", be32(44100u << 16)),
                       leaf("acod", be32(VtrQTUtils::fourCharCode("aac ")))}};
    AtomBuilder root{kRootAtomType, {}, {video, sound}};
    return QByteArray(kContainerHeaderSize, '\0') + root.bytes();
}

QByteArray QTSettings::h264SettingsWithWidth(int width, int height, double frameRate, int videoDataRate,
                                             int audioDataRate, int audioSampleRate)
{
    QTSettings settings(h264Template());
    auto put = [&settings](const char(&type)[5], const QByteArray &value) {
        const qint32 atom = settings.atomWithType(VtrQTUtils::fourCharCode(type));
        if (atom) settings.setAtomData(atom, value);
    };
    auto patched = [&settings](const char(&type)[5], int at, const QByteArray &value) -> std::optional<QByteArray> {
        const qint32 atom = settings.atomWithType(VtrQTUtils::fourCharCode(type));
        QByteArray data = settings.atomData(atom);
        if (!atom || data.size() < at + value.size()) return std::nullopt;
        data.replace(at, value.size(), value);
        return data;
    };
    if (width >= 0) {
        put("wdth", be32(toFixed(width)));
        put("iwdt", be32(quint32(width)));
    }
    if (height >= 0) {
        put("hegt", be32(toFixed(height)));
        put("ihgt", be32(quint32(height)));
    }
    if (audioDataRate >= 0) put("arat", be32(quint32(audioDataRate)));
    if (audioSampleRate > 0) put("asrt", be32(snapSampleRate(audioSampleRate) << 16));
    if (videoDataRate >= 0) {
        if (auto d = patched("drat", 0, be32(quint32((qint64(videoDataRate) * 1000) >> 3)))) put("drat", *d);
    }
    if (frameRate >= 0.0) {
        if (auto d = patched("tprl", 4, be32(toFixed(frameRate)))) put("tprl", *d);
    }
    return settings.atoms();
}

void VtrQTUtils::dumpAtomInfo(qint32 atom, quint32 atomType, const QByteArray &settingsBytes)
{
    const QTSettings settings(settingsBytes);
    std::function<void(qint32, int, int)> dump = [&](qint32 a, int level, int index) {
        const QString indent = QStringLiteral("    ").repeated(level);
        const QByteArray data = settings.atomData(a);
        if (!data.isEmpty())
            VTR_LOG(0, QStringLiteral("%1%2: %3").arg(indent).arg(index, 3).arg(QString::fromLatin1(data.toHex(' '))));
        const QList<QPair<qint32, quint32>> children = settings.childAtoms(a);
        QList<quint32> types;
        for (const auto &c : children)
            if (!types.contains(c.second)) types.append(c.second);
        for (quint32 type : types) {
            QList<qint32> ofType;
            for (const auto &c : children)
                if (c.second == type) ofType.append(c.first);
            VTR_LOG(0, QStringLiteral("%1%2 %3 of type '%4'")
                           .arg(indent)
                           .arg(ofType.size())
                           .arg(ofType.size() == 1 ? QStringLiteral("child") : QStringLiteral("children"),
                                typeString(type)));
            for (int i = 0; i < ofType.size(); ++i)
                dump(ofType.at(i), level + 1, i + 1);
        }
    };
    Q_UNUSED(atomType);
    dump(atom, 0, 0);
}
