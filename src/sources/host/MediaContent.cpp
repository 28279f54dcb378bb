#include "sources/host/MediaContent.h"

#include "fileinfo/GuardedMediaInput.h"
#include "foundation/Log.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vtr {

namespace {

// libavformat has no reader for Standard MIDI files, which a desktop player
// plays as songs.
bool isMidiFile(int fd)
{
    char head[4] = {};
    return ::pread(fd, head, sizeof head, 0) == sizeof head && std::memcmp(head, "MThd", 4) == 0;
}

// A phone's files are read one by one when they are filed: one that holds
// thousands of other files would fill the log with this line.
void logNotMedia(const QString &path, const QString &why)
{
    static LogRepeats lines(
        3, [](qsizetype more) { return QStringLiteral("%1 more files are not read as sound or video").arg(more); },
        LogRepeats::OfRuns);
    if (lines.admit()) VTR_LOG(3, QStringLiteral("\"%1\" is not read as sound or video: %2").arg(path, why));
}

}  // namespace

MediaContent mediaContentOf(const QString &path)
{
    return mediaContentOf(path, nullptr);
}

MediaContent mediaContentOf(const QString &path, MediaTags *tags)
{
    if (tags) *tags = MediaTags();
    if (path.isEmpty()) return MediaContent::None;
    // Only a regular file is read: a FIFO or a device is never waited on.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        logNotMedia(path, QString::fromLocal8Bit(std::strerror(errno)));
        return MediaContent::None;
    }
    const MediaContent content = mediaContentOf(fd, path, tags);
    ::close(fd);
    return content;
}

MediaContent mediaContentOf(int fd, const QString &name, MediaTags *tags)
{
    if (tags) *tags = MediaTags();
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        logNotMedia(name, QStringLiteral("not a regular file"));
        return MediaContent::None;
    }
    if (isMidiFile(fd)) return MediaContent::Sound;
    // No name goes with the bytes: the extension must not vote. Pictures and
    // text are not among the formats read at all.
    MediaOpenLimits limits;
    limits.nameHelps = false;
    limits.minimumScore = AVPROBE_SCORE_RETRY;
    QString why;
    MediaBytesOfDescriptor bytes(fd, qint64(st.st_size));
    const std::unique_ptr<GuardedMediaInput> input =
        GuardedMediaInput::openSource(bytes, QFileInfo(name).fileName(), &why, limits);
    if (!input) {
        logNotMedia(name, why);
        return MediaContent::None;
    }
    const AVFormatContext *ctx = input->context();
    // Some containers announce their tracks only in their packets, and some
    // their length.
    const bool looked = ctx->nb_streams == 0;
    if (looked && !input->findStreamInfo(&why)) {
        logNotMedia(name, why);
        return MediaContent::None;
    }
    if (tags) {
        if (!looked && mediaMilliseconds(ctx) < 0) input->findStreamInfo();
        *tags = mediaTagsOf(ctx);
        // A playlist line holds them: one line each.
        tags->title = tags->title.simplified();
        tags->artist = tags->artist.simplified();
    }
    bool sound = false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return MediaContent::Video;
        sound = sound || st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    }
    return sound ? MediaContent::Sound : MediaContent::None;
}

}  // namespace vtr
