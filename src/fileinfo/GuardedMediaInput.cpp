#include "fileinfo/GuardedMediaInput.h"

#include "fileinfo/VtrQTUtils.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace vtr {

namespace {

using Clock = std::chrono::steady_clock;

// Plain sound and movie containers. Each reads the one file it is handed and
// nothing else (the MOV reader follows a movie's references to other files
// only when told to, and is not). Left out on purpose: playlists and
// manifests (hls, dash), lists of other files (concat), image sequences and
// single pictures (image2 and the *_pipe readers), subtitle and text formats
// (some name further files), and the network and device readers.
constexpr const char kAllowedFormats[] =
    "mov,mp3,aac,ac3,eac3,wav,w64,aiff,caf,amr,amrnb,amrwb,au,flac,ogg,ape,wv,mpc,mpc8,tta,dsf,aa,"
    "matroska,asf,avi,mpeg,mpegts,mpegvideo,dv,flv,rm";

QString avErrorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// A local file by its descriptor: its name is never handed on as an address.
class FileSource final : public MediaBytesOfDescriptor
{
public:
    FileSource() : MediaBytesOfDescriptor(-1, -1) {}
    ~FileSource() override
    {
        if (m_fd >= 0) ::close(m_fd);
    }

    bool open(const QString &path, QString *why)
    {
        const QByteArray name = QFile::encodeName(path);
        struct stat st
        {
        };
        // Devices and FIFOs are not even opened: opening some has effects,
        // reading others never ends.
        if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
            *why = QStringLiteral("it is not a regular file");
            return false;
        }
        m_fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0) {
            *why = QStringLiteral("it could not be opened: ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            *why = QStringLiteral("it is not a regular file");
            return false;
        }
        m_size = st.st_size;
        return true;
    }
};

} // namespace

qint64 MediaBytesOfDescriptor::read(char *buffer, qint64 maxBytes)
{
    ssize_t n;
    do {
        n = ::pread(m_fd, buffer, size_t(std::max<qint64>(maxBytes, 0)), m_position);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    m_position += n;
    return n;
}

bool MediaBytesOfDescriptor::seek(qint64 offset)
{
    if (offset < 0) return false;
    m_position = offset;
    return true;
}

qint64 MediaBytesInMemory::read(char *buffer, qint64 maxBytes)
{
    const qint64 n = std::clamp<qint64>(m_bytes.size() - m_position, 0, maxBytes);
    if (n > 0) std::memcpy(buffer, m_bytes.constData() + m_position, size_t(n));
    m_position += n;
    return n;
}

bool MediaBytesInMemory::seek(qint64 offset)
{
    if (offset < 0 || offset > m_bytes.size()) return false;
    m_position = offset;
    return true;
}

struct GuardedMediaInput::State
{
    std::unique_ptr<MediaByteSource> owned;
    MediaByteSource *source = nullptr;
    qint64 position = 0;
    Clock::time_point deadline;
    bool timedOut = false;
    bool sourceFailed = false;
    int refusedOpens = 0;
    AVIOContext *io = nullptr;
    AVFormatContext *ctx = nullptr;

    ~State()
    {
        if (ctx) avformat_close_input(&ctx);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }

    bool expired()
    {
        if (!timedOut && Clock::now() >= deadline) timedOut = true;
        return timedOut;
    }

    QString why(int code) const
    {
        if (timedOut) return QStringLiteral("reading it took too long");
        if (refusedOpens > 0) return QStringLiteral("it names other files or addresses");
        if (sourceFailed) return QStringLiteral("its bytes could not be read");
        return avErrorText(code);
    }

    static int readPacket(void *opaque, uint8_t *buffer, int size)
    {
        auto *s = static_cast<State *>(opaque);
        if (s->expired()) return AVERROR_EXIT;
        const qint64 n = s->source->read(reinterpret_cast<char *>(buffer), size);
        if (n < 0 || n > size) {
            s->sourceFailed = true;
            return AVERROR(EIO);
        }
        if (n == 0) return AVERROR_EOF;
        s->position += n;
        return int(n);
    }

    static int64_t seekTo(void *opaque, int64_t offset, int whence)
    {
        auto *s = static_cast<State *>(opaque);
        const qint64 size = s->source->size();
        if (whence & AVSEEK_SIZE) return size >= 0 ? size : AVERROR(ENOSYS);
        if (s->expired()) return AVERROR_EXIT;
        qint64 target = -1;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = s->position + offset;
            break;
        case SEEK_END:
            if (size < 0) return AVERROR(ENOSYS);
            target = size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (target < 0 || !s->source->seek(target)) return AVERROR(EIO);
        s->position = target;
        return target;
    }

    static int interrupted(void *opaque) { return static_cast<State *>(opaque)->expired() ? 1 : 0; }

    // What the media names (a playlist's entries, a movie's references to
    // other files) is never opened, whatever the reader.
    static int refuseOpen(AVFormatContext *ctx, AVIOContext **, const char *, int, AVDictionary **)
    {
        if (auto *s = static_cast<State *>(ctx->opaque)) ++s->refusedOpens;
        return AVERROR(EPERM);
    }
};

GuardedMediaInput::GuardedMediaInput(std::unique_ptr<State> state) : m_state(std::move(state)) {}

GuardedMediaInput::~GuardedMediaInput() = default;

const char *GuardedMediaInput::allowedFormats()
{
    return kAllowedFormats;
}

std::unique_ptr<GuardedMediaInput> GuardedMediaInput::openFile(const QString &path, QString *error,
                                                               const MediaOpenLimits &limits)
{
    auto file = std::make_unique<FileSource>();
    QString why;
    if (path.isEmpty() || !file->open(path, &why)) {
        if (error) *error = path.isEmpty() ? QStringLiteral("no file was named") : why;
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->source = file.get();
    state->owned = std::move(file);
    return open(std::move(state), QFileInfo(path).fileName(), error, limits);
}

std::unique_ptr<GuardedMediaInput> GuardedMediaInput::openSource(MediaByteSource &source, const QString &name,
                                                                 QString *error, const MediaOpenLimits &limits)
{
    auto state = std::make_unique<State>();
    state->source = &source;
    return open(std::move(state), name, error, limits);
}

std::unique_ptr<GuardedMediaInput> GuardedMediaInput::open(std::unique_ptr<State> state, const QString &name,
                                                           QString *error, const MediaOpenLimits &limits)
{
    VtrQTUtils::initialize();
    const auto fail = [error](const QString &why) -> std::unique_ptr<GuardedMediaInput> {
        if (error) *error = why;
        return nullptr;
    };
    State &s = *state;
    s.deadline = Clock::now() + limits.deadline;
    constexpr int kBufferSize = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (!buffer) return fail(QStringLiteral("out of memory"));
    s.io = avio_alloc_context(buffer, kBufferSize, 0, &s, State::readPacket, nullptr, State::seekTo);
    if (!s.io) {
        av_free(buffer);
        return fail(QStringLiteral("out of memory"));
    }
    const qint64 probeBytes = std::clamp<qint64>(limits.probeBytes, 32, std::numeric_limits<int>::max());
    // Only the file's own name (never a path) goes with the bytes, and only
    // to help recognise the format.
    const QByteArray url = limits.nameHelps ? name.toUtf8() : QByteArray();
    const AVInputFormat *format = nullptr;
    const int score = av_probe_input_buffer2(s.io, &format, url.constData(), nullptr, 0, unsigned(probeBytes));
    if (score < 0) return fail(s.why(score));
    if (!format || score <= limits.minimumScore) return fail(QStringLiteral("its format is not recognised"));
    if (av_match_list(format->name, kAllowedFormats, ',') <= 0)
        return fail(QStringLiteral("it is not a plain sound or movie file (%1)").arg(QString::fromUtf8(format->name)));

    s.ctx = avformat_alloc_context();
    if (!s.ctx) return fail(QStringLiteral("out of memory"));
    s.ctx->pb = s.io;
    s.ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    s.ctx->interrupt_callback.callback = State::interrupted;
    s.ctx->interrupt_callback.opaque = &s;
    s.ctx->opaque = &s;
    s.ctx->io_open = State::refuseOpen;
    // The library's own guards as well, for whatever it opens on its own.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "format_whitelist", kAllowedFormats, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set_int(&options, "probesize", probeBytes, 0);
    av_dict_set_int(&options, "analyzeduration", std::max<qint64>(0, limits.analyzeMicroseconds), 0);
    const int rc = avformat_open_input(&s.ctx, url.constData(), format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        s.ctx = nullptr; // freed by the failed open
        return fail(s.why(rc));
    }
    return std::unique_ptr<GuardedMediaInput>(new GuardedMediaInput(std::move(state)));
}

AVFormatContext *GuardedMediaInput::context() const
{
    return m_state->ctx;
}

bool GuardedMediaInput::findStreamInfo(QString *error)
{
    const int rc = avformat_find_stream_info(m_state->ctx, nullptr);
    if (rc >= 0 && !m_state->timedOut && m_state->refusedOpens == 0) return true;
    if (error) *error = m_state->why(rc);
    return false;
}

void GuardedMediaInput::extendDeadline(std::chrono::milliseconds time)
{
    m_state->deadline = Clock::now() + time;
    m_state->timedOut = false;
}

qint64 mediaMilliseconds(const AVFormatContext *ctx)
{
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) return av_rescale(ctx->duration, 1000, AV_TIME_BASE);
    qint64 longest = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            longest = qMax(longest, qint64(av_rescale_q(st->duration, st->time_base, AVRational{1, 1000})));
    }
    return longest;
}

MediaTags mediaTagsOf(const AVFormatContext *ctx)
{
    // Some containers keep the tags with the sound track, not the file.
    const AVDictionary *soundTags = nullptr;
    for (unsigned i = 0; i < ctx->nb_streams && !soundTags; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) soundTags = ctx->streams[i]->metadata;
    const auto tag = [&](const char *key) {
        for (const AVDictionary *dict : {static_cast<const AVDictionary *>(ctx->metadata), soundTags}) {
            const AVDictionaryEntry *entry = dict ? av_dict_get(dict, key, nullptr, 0) : nullptr;
            const QString text = entry && entry->value ? QString::fromUtf8(entry->value).trimmed() : QString();
            if (!text.isEmpty()) return text;
        }
        return QString();
    };
    MediaTags found;
    found.title = tag("title");
    found.artist = tag("artist");
    found.albumArtist = tag("album_artist");
    found.album = tag("album");
    found.genre = tag("genre");
    found.milliseconds = mediaMilliseconds(ctx);
    return found;
}

namespace {

std::optional<MediaTags> tagsOf(const std::unique_ptr<GuardedMediaInput> &input)
{
    if (!input) return std::nullopt;
    return mediaTagsOf(input->context());
}

} // namespace

std::optional<MediaTags> readMediaTags(const QString &path, QString *error)
{
    return tagsOf(GuardedMediaInput::openFile(path, error));
}

std::optional<MediaTags> readMediaTags(MediaByteSource &source, const QString &name, QString *error)
{
    return tagsOf(GuardedMediaInput::openSource(source, name, error));
}

} // namespace vtr
