#include "sources/host/TrackArtwork.h"

#include "fileinfo/GuardedMediaInput.h"
#include "foundation/Log.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace vtr {

QList<QByteArray> embeddedPictures(const QString &path)
{
    QList<QByteArray> pictures;
    QString why;
    const std::unique_ptr<GuardedMediaInput> input = GuardedMediaInput::openFile(path, &why);
    if (!input) {
        VTR_LOG(3, QStringLiteral("No cover pictures are read from \"%1\": %2").arg(path, why));
        return pictures;
    }
    const AVFormatContext *context = input->context();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *stream = context->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        const AVPacket &packet = stream->attached_pic;
        if (packet.data && packet.size > 0)
            pictures.append(QByteArray(reinterpret_cast<const char *>(packet.data), packet.size));
    }
    return pictures;
}

}  // namespace vtr
