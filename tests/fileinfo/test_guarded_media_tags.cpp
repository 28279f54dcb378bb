// What a song is filed and listed as comes from its own tags, and only what
// is surely a sound or movie file is read as one. The files are written here
// by libavformat's muxers, or byte by byte.
#include "fileinfo/GuardedMediaInput.h"

#include "TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

struct Track
{
    const char *muxer;
    AVCodecID codec;
    int sampleRate;
    QByteArray header; // the codec's private data
};

// A second of one sound track in `path`, with tags for the file and the track.
bool writeSong(const QString &path, const Track &track, const QList<std::pair<const char *, const char *>> &fileTags,
               const QList<std::pair<const char *, const char *>> &trackTags)
{
    AVFormatContext *out = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_alloc_output_context2(&out, nullptr, track.muxer, name.constData()) < 0 || !out) return false;
    bool ok = false;
    if (AVStream *st = avformat_new_stream(out, nullptr)) {
        AVCodecParameters *par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = track.codec;
        par->sample_rate = track.sampleRate;
        par->bits_per_coded_sample = 16;
        av_channel_layout_default(&par->ch_layout, 1);
        if (!track.header.isEmpty()) {
            par->extradata =
                static_cast<uint8_t *>(av_mallocz(size_t(track.header.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
            memcpy(par->extradata, track.header.constData(), size_t(track.header.size()));
            par->extradata_size = int(track.header.size());
        }
        st->time_base = AVRational{1, track.sampleRate};
        for (const auto &[key, value] : fileTags)
            av_dict_set(&out->metadata, key, value, 0);
        for (const auto &[key, value] : trackTags)
            av_dict_set(&st->metadata, key, value, 0);
        ok = avio_open(&out->pb, name.constData(), AVIO_FLAG_WRITE) >= 0;
        if (ok) ok = avformat_write_header(out, nullptr) >= 0;
        const int perPacket = track.sampleRate / 50;
        for (int i = 0; ok && i < 50; ++i) {
            AVPacket *packet = av_packet_alloc();
            ok = packet && av_new_packet(packet, 160) == 0;
            if (ok) {
                memset(packet->data, 0, 160);
                packet->pts = packet->dts = qint64(i) * perPacket;
                packet->duration = perPacket;
                ok = av_interleaved_write_frame(out, packet) >= 0;
            }
            av_packet_free(&packet);
        }
        if (ok) ok = av_write_trailer(out) >= 0;
        if (out->pb) avio_closep(&out->pb);
    }
    avformat_free_context(out);
    return ok;
}

// The header an Opus track carries: one channel, 48 kHz.
QByteArray opusHeader()
{
    QByteArray head("OpusHead");
    head += char(1);                         // version
    head += char(1);                         // channels
    head += QByteArray::fromHex("3801");     // pre-skip, little-endian
    head += QByteArray::fromHex("80bb0000"); // input rate
    head += QByteArray(3, '\0');             // gain, channel mapping
    return head;
}

// An MPEG audio frame (layer III, 128 kbit/s, 44.1 kHz) of silence.
QByteArray mpegAudioFrame()
{
    QByteArray frame = QByteArray::fromHex("fffb9064");
    frame.append(417 - frame.size(), '\0');
    return frame;
}

} // namespace

// A desktop's player names a track of its own after the channels it holds
// ("Stereo"); the song's title is the file's, the track's only when the file
// names none.
TEST(GuardedMediaTags, TheFilesOwnTagsComeBeforeThoseOfItsSoundTrack)
{
    const QString dir = testenv::makeTempDir(QStringLiteral("tagged"));
    const Track tracks[] = {{"matroska", AV_CODEC_ID_PCM_S16LE, 8000, {}},
                            {"webm", AV_CODEC_ID_OPUS, 48000, opusHeader()}};
    for (const Track &track : tracks) {
        SCOPED_TRACE(track.muxer);
        const QString path = dir + QStringLiteral("/song.") + QLatin1String(track.muxer);
        ASSERT_TRUE(writeSong(path, track, {{"title", "Blue Moon"}, {"album", "Nights"}},
                              {{"title", "Stereo"}, {"artist", "Ella"}, {"album", "Track album"}}));
        QString why;
        const std::optional<vtr::MediaTags> tags = vtr::readMediaTags(path, &why);
        ASSERT_TRUE(tags.has_value()) << why.toStdString();
        EXPECT_EQ(tags->title.toStdString(), "Blue Moon");
        EXPECT_EQ(tags->album.toStdString(), "Nights");
        EXPECT_EQ(tags->artist.toStdString(), "Ella") << "the file names no artist: the track's";
    }
}

// The host asks for more than the retry score, as libavformat calls the
// guess it would try again with more bytes: a few MPEG audio frames behind
// some text are a guess, a file that begins with them is not.
TEST(GuardedMediaTags, AFormatGuessedOnlyAtTheRetryScoreIsRefusedWhenMoreIsAskedFor)
{
    vtr::MediaOpenLimits limits;
    limits.nameHelps = false;
    limits.minimumScore = AVPROBE_SCORE_RETRY;
    QByteArray frames;
    for (int i = 0; i < 5; ++i)
        frames += mpegAudioFrame();
    const QByteArray guess = QByteArray("a note, not a song\n").repeated(2) + frames;

    vtr::MediaBytesInMemory atRetry(guess);
    QString why;
    EXPECT_EQ(vtr::GuardedMediaInput::openSource(atRetry, QStringLiteral("song.mp3"), &why, limits), nullptr);
    EXPECT_EQ(why.toStdString(), "its format is not recognised");

    // Just below, the same bytes are taken: the score is the retry score exactly.
    limits.minimumScore = AVPROBE_SCORE_RETRY - 1;
    vtr::MediaBytesInMemory justBelow(guess);
    EXPECT_NE(vtr::GuardedMediaInput::openSource(justBelow, QString(), &why, limits), nullptr) << why.toStdString();

    limits.minimumScore = AVPROBE_SCORE_RETRY;
    vtr::MediaBytesInMemory song(frames + frames);
    EXPECT_NE(vtr::GuardedMediaInput::openSource(song, QString(), &why, limits), nullptr) << why.toStdString();
}
