#include "sources/host/MediaContent.h"

#include "fileinfo/VtrQTUtils.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

namespace vtr {

namespace {

struct FileReader
{
    int fd = -1;
    qint64 size = 0;
    qint64 pos = 0;
};

int readFile(void *opaque, uint8_t *buffer, int size)
{
    auto *r = static_cast<FileReader *>(opaque);
    ssize_t n;
    do {
        n = ::pread(r->fd, buffer, size_t(size), r->pos);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return AVERROR(EIO);
    if (n == 0) return AVERROR_EOF;
    r->pos += n;
    return int(n);
}

int64_t seekFile(void *opaque, int64_t offset, int whence)
{
    auto *r = static_cast<FileReader *>(opaque);
    if (whence & AVSEEK_SIZE) return r->size;
    qint64 target = -1;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = r->pos + offset; break;
    case SEEK_END: target = r->size + offset; break;
    default: return -1;
    }
    if (target < 0) return -1;
    r->pos = target;
    return target;
}

// Readers that take pictures, text art or bare binaries for one-frame
// "videos": what they recognise is nothing a player plays.
bool isPictureOrTextFormat(const char *names)
{
    static const QList<QByteArray> kNames = {"image2",      "image2pipe", "gif", "apng", "tty",  "bin", "xbin",
                                             "adf",         "idf",        "ico", "psd",  "alias_pix",
                                             "brender_pix", "jpegxl_anim"};
    for (const QByteArray &name : QByteArray(names).split(',')) {
        if (name.endsWith("_pipe") || kNames.contains(name)) return true;
    }
    return false;
}

class Probe
{
public:
    ~Probe()
    {
        if (m_ctx) avformat_close_input(&m_ctx);
        if (m_io) {
            av_freep(&m_io->buffer);
            avio_context_free(&m_io);
        }
        if (m_file.fd >= 0) ::close(m_file.fd);
    }

    MediaContent run(const QString &path, MediaTags *tags = nullptr)
    {
        m_file.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        struct stat st
        {
        };
        if (m_file.fd < 0 || ::fstat(m_file.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
            return MediaContent::None;
        m_file.size = st.st_size;
        // The movie reader has no reader for Standard MIDI files, which a
        // desktop player plays as songs.
        char head[4] = {};
        if (::pread(m_file.fd, head, sizeof head, 0) == sizeof head && std::memcmp(head, "MThd", 4) == 0)
            return MediaContent::Sound;

        constexpr int kBufferSize = 64 * 1024;
        auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
        if (!buffer) return MediaContent::None;
        m_io = avio_alloc_context(buffer, kBufferSize, 0, &m_file, readFile, nullptr, seekFile);
        if (!m_io) {
            av_free(buffer);
            return MediaContent::None;
        }
        // No name goes with the bytes: the extension must not vote.
        const AVInputFormat *format = nullptr;
        const int score = av_probe_input_buffer2(m_io, &format, "", nullptr, 0, 0);
        if (score <= AVPROBE_SCORE_RETRY || !format || isPictureOrTextFormat(format->name)) return MediaContent::None;

        m_ctx = avformat_alloc_context();
        if (!m_ctx) return MediaContent::None;
        m_ctx->pb = m_io;
        m_ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (avformat_open_input(&m_ctx, "", format, nullptr) < 0) {
            m_ctx = nullptr;  // freed by the failed open
            return MediaContent::None;
        }
        // Some containers announce their tracks only in their packets, and
        // some their length.
        const bool looked = m_ctx->nb_streams == 0;
        if (looked && avformat_find_stream_info(m_ctx, nullptr) < 0) return MediaContent::None;
        if (tags) {
            if (!looked && milliseconds() < 0) avformat_find_stream_info(m_ctx, nullptr);
            readTags(*tags);
        }
        bool sound = false;
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            const AVStream *st = m_ctx->streams[i];
            if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
                return MediaContent::Video;
            sound = sound || st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        }
        return sound ? MediaContent::Sound : MediaContent::None;
    }

private:
    // The container's tags, else those of its first sound track.
    void readTags(MediaTags &tags) const
    {
        const AVDictionary *soundTags = nullptr;
        for (unsigned i = 0; i < m_ctx->nb_streams && !soundTags; ++i)
            if (m_ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) soundTags = m_ctx->streams[i]->metadata;
        const auto tag = [&](const char *key) {
            for (const AVDictionary *dict : {static_cast<const AVDictionary *>(m_ctx->metadata), soundTags}) {
                const AVDictionaryEntry *entry = dict ? av_dict_get(dict, key, nullptr, 0) : nullptr;
                const QString text = entry ? QString::fromUtf8(entry->value).simplified() : QString();
                if (!text.isEmpty()) return text;
            }
            return QString();
        };
        tags.title = tag("title");
        tags.artist = tag("artist");
        tags.milliseconds = milliseconds();
    }

    // The length the container states, else that of its longest track; -1
    // when none is known.
    qint64 milliseconds() const
    {
        if (m_ctx->duration != AV_NOPTS_VALUE && m_ctx->duration > 0)
            return av_rescale(m_ctx->duration, 1000, AV_TIME_BASE);
        qint64 longest = -1;
        for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
            const AVStream *st = m_ctx->streams[i];
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
                longest = qMax(longest, qint64(av_rescale_q(st->duration, st->time_base, AVRational{1, 1000})));
        }
        return longest;
    }

    FileReader m_file;
    AVIOContext *m_io = nullptr;
    AVFormatContext *m_ctx = nullptr;
};

}  // namespace

MediaContent mediaContentOf(const QString &path)
{
    return mediaContentOf(path, nullptr);
}

MediaContent mediaContentOf(const QString &path, MediaTags *tags)
{
    if (tags) *tags = MediaTags();
    if (path.isEmpty()) return MediaContent::None;
    VtrQTUtils::initialize();
    Probe probe;
    return probe.run(path, tags);
}

}  // namespace vtr
