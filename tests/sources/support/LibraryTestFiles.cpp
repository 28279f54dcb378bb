#include "support/LibraryTestFiles.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <sys/inotify.h>
#include <unistd.h>

namespace libtest {

QByteArray silentWav(int samples)
{
    const quint32 dataBytes = quint32(samples) * 2;
    QByteArray wav;
    auto u32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    wav += "RIFF";
    u32(36 + dataBytes);
    wav += "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
    wav += "data";
    u32(dataBytes);
    wav += QByteArray(int(dataBytes), '\0');
    return wav;
}

QByteArray taggedMp3(const QList<std::pair<QByteArray, QByteArray>> &frames, int silentFrames)
{
    QByteArray body;
    for (const auto &[id, value] : frames) {
        const QByteArray text = '\x03' + value;
        body += id;
        for (int shift : {24, 16, 8, 0}) body.append(char((text.size() >> shift) & 0xFF));
        body += QByteArray(2, '\0') + text;
    }
    QByteArray tag("ID3\x04\x00\x00", 6);
    for (int shift : {21, 14, 7, 0}) tag.append(char((body.size() >> shift) & 0x7F));
    return tag + body + (QByteArray("\xff\xfb\x90\x00", 4) + QByteArray(413, '\0')).repeated(silentFrames);
}

bool makeMedia(const QString &path, const char *input, const QString &codec)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i"};
    const QByteArray kind(input);
    if (kind == "sound")
        args << "sine=frequency=440:duration=0.3";
    else if (kind == "video")
        args << "testsrc=size=64x48:rate=10:duration=0.5";
    else
        args << "testsrc=size=16x16:rate=1:duration=1" << "-frames:v" << "1";
    args += codec.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    args << path;
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

OpenWatch::OpenWatch(const QStringList &paths)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const QString &path : paths) {
        if (m_fd >= 0 && inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN | IN_ACCESS) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
}

OpenWatch::~OpenWatch()
{
    if (m_fd >= 0) ::close(m_fd);
}

bool OpenWatch::opened()
{
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while (m_fd >= 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
        for (char *p = buffer; p < buffer + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            if (event->mask & (IN_OPEN | IN_ACCESS)) m_opened = true;
            p += sizeof(inotify_event) + event->len;
        }
    }
    return m_opened;
}

}  // namespace libtest
