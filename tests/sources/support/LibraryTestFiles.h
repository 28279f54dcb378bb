#pragma once

#include <QByteArray>
#include <QString>

namespace libtest {

// A tenth of a second of silence as a WAV file: media every reader opens.
QByteArray silentWav();

// Writes `path` with ffmpeg: `input` is "sound" (a short tone), "video" (a
// moving test pattern) or "picture" (one frame), `codec` the output options
// (split at spaces). False when ffmpeg is missing or fails.
bool makeMedia(const QString &path, const char *input, const QString &codec);

// Tells whether a process opened one file (inotify): a file a test must see
// left alone is watched from before the code under test runs.
class OpenWatch
{
public:
    explicit OpenWatch(const QString &path);
    ~OpenWatch();
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;
    bool watching() const { return m_fd >= 0; }
    // Whether the file was opened since the watch began.
    bool opened();

private:
    int m_fd = -1;
    bool m_opened = false;
};

}  // namespace libtest
