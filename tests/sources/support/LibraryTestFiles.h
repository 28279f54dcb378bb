#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace libtest {

// Silence as a WAV file (8000 samples a second, a tenth of a second unless
// told): media every reader opens.
QByteArray silentWav(int samples = 800);

// An MP3 file of `silentFrames` silent frames behind an ID3v2.4 tag of text
// frames, e.g. {{"TIT2", "title"}, {"TPE1", "artist"}}.
QByteArray taggedMp3(const QList<std::pair<QByteArray, QByteArray>> &frames, int silentFrames = 12);

// Writes `path` with ffmpeg: `input` is "sound" (a short tone), "video" (a
// moving test pattern) or "picture" (one frame), `codec` the output options
// (split at spaces). False when ffmpeg is missing or fails.
bool makeMedia(const QString &path, const char *input, const QString &codec);

// Tells whether a process opened one of the files (inotify): a file a test
// must see left alone is watched from before the code under test runs.
class OpenWatch
{
public:
    explicit OpenWatch(const QString &path) : OpenWatch(QStringList{path}) {}
    explicit OpenWatch(const QStringList &paths);
    ~OpenWatch();
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;
    // Every file is watched.
    bool watching() const { return m_fd >= 0; }
    // Whether a file was opened since the watch began.
    bool opened();

private:
    int m_fd = -1;
    bool m_opened = false;
};

}  // namespace libtest
