#include "sources/host/TrackArtwork.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vtr {

QList<QByteArray> embeddedPictures(const QString &path)
{
    QList<QByteArray> pictures;
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) != 0) return pictures;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        const AVPacket &packet = stream->attached_pic;
        if (packet.data && packet.size > 0)
            pictures.append(QByteArray(reinterpret_cast<const char *>(packet.data), packet.size));
    }
    avformat_close_input(&context);
    return pictures;
}

}  // namespace vtr
