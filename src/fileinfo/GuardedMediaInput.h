#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

struct AVFormatContext;

namespace vtr {

// Bytes of one media file that has no local path (a phone's file read over
// one of its services). Called from the thread that reads the media.
class MediaByteSource
{
public:
    virtual ~MediaByteSource() = default;
    virtual qint64 read(char *buffer, qint64 maxBytes) = 0; // bytes read, 0 at end, -1 on error
    virtual bool seek(qint64 offset) = 0;                   // absolute offset
    virtual qint64 size() const = 0;                        // -1 when unknown
};

// Bytes held in memory.
class MediaBytesInMemory final : public MediaByteSource
{
public:
    explicit MediaBytesInMemory(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    qint64 read(char *buffer, qint64 maxBytes) override;
    bool seek(qint64 offset) override;
    qint64 size() const override { return m_bytes.size(); }

private:
    QByteArray m_bytes;
    qint64 m_position = 0;
};

// Bytes of a file opened by its descriptor, read by position; the
// descriptor stays its opener's.
class MediaBytesOfDescriptor : public MediaByteSource
{
public:
    MediaBytesOfDescriptor(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    qint64 read(char *buffer, qint64 maxBytes) override;
    bool seek(qint64 offset) override;
    qint64 size() const override { return m_size; }

protected:
    int m_fd;
    qint64 m_size;
    qint64 m_position = 0;
};

// How far one open may go.
struct MediaOpenLimits
{
    // Bytes read to recognise the format, and media time read to learn the
    // tracks' parameters.
    qint64 probeBytes = 5 * 1024 * 1024;
    qint64 analyzeMicroseconds = 5 * 1000 * 1000;
    // Opening and every later read end with a failure once this has passed.
    std::chrono::milliseconds deadline{20000};
    // Whether the name's extension may help recognise the format; without,
    // the bytes alone decide.
    bool nameHelps = true;
    // A format recognised with no more confidence than this (0 to 100) is
    // refused.
    int minimumScore = 0;
};

// Every file that comes from a phone, a card or a library brought from
// elsewhere reaches libavformat through this, and nothing else does: such a
// file may be a playlist or a list that names other files or addresses, name
// itself, or be read for ever. Only the one file is read (through our own
// reader, never by its name as an address), only by the readers of plain
// sound and movie containers, and any file or address it names is refused.
class GuardedMediaInput
{
public:
    // A regular file (a device, FIFO or folder is refused without reading).
    // nullptr when it cannot be read as media; `error` then says why.
    static std::unique_ptr<GuardedMediaInput> openFile(const QString &path, QString *error = nullptr,
                                                       const MediaOpenLimits &limits = {});
    // `name` (may be empty) only helps recognise the format. The source must
    // outlive the input.
    static std::unique_ptr<GuardedMediaInput> openSource(MediaByteSource &source, const QString &name,
                                                         QString *error = nullptr, const MediaOpenLimits &limits = {});
    ~GuardedMediaInput();
    GuardedMediaInput(const GuardedMediaInput &) = delete;
    GuardedMediaInput &operator=(const GuardedMediaInput &) = delete;

    // Open, for reading headers, tags and packets; closed with the input.
    AVFormatContext *context() const;
    // Reads into the media until every track's parameters are known, within
    // the limits.
    bool findStreamInfo(QString *error = nullptr);
    // From now on the reading may go on for `time` (reading a whole movie
    // takes longer than opening it).
    void extendDeadline(std::chrono::milliseconds time);

    // The readers allowed, as libavformat names them.
    static const char *allowedFormats();

private:
    struct State;
    explicit GuardedMediaInput(std::unique_ptr<State> state);
    static std::unique_ptr<GuardedMediaInput> open(std::unique_ptr<State> state, const QString &name, QString *error,
                                                   const MediaOpenLimits &limits);
    std::unique_ptr<State> m_state;
};

// What a sound or video file's tags name; an absent tag is empty.
struct MediaTags
{
    QString title;
    QString artist;
    QString albumArtist;
    QString album;
    QString genre;
    qint64 milliseconds = -1;  // the length the file states; -1 when it states none
};

// The length the container states, else that of its longest track; -1 when
// none is known.
qint64 mediaMilliseconds(const AVFormatContext *ctx);

// The tags of an opened file: each from the container, else from its first
// sound track.
MediaTags mediaTagsOf(const AVFormatContext *ctx);

// nullopt when the file cannot be read as media (`error` says why).
std::optional<MediaTags> readMediaTags(const QString &path, QString *error = nullptr);
std::optional<MediaTags> readMediaTags(MediaByteSource &source, const QString &name, QString *error = nullptr);

} // namespace vtr
