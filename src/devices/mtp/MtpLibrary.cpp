#include "devices/mtp/MtpLibrary.h"

#include "devices/mtp/DebianMtpLibrary.h"
#include "devices/mtp/sim/SimulatedMtpLibrary.h"
#include "foundation/Log.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

MtpLibrary::~MtpLibrary() = default;

void MtpLibrary::freeRawDevices(LIBMTP_raw_device_t *devices)
{
    // The list is one malloc'ed block; its texts belong to the library.
    free(devices);
}

MtpLibrary::Podcast *MtpLibrary::newPodcast()
{
    auto *podcast = static_cast<Podcast *>(calloc(1, sizeof(Podcast)));
    if (podcast) podcast->filetype = LIBMTP_FILETYPE_UNKNOWN;
    return podcast;
}

void MtpLibrary::destroyPodcast(Podcast *podcast)
{
    if (!podcast) return;
    free(podcast->filename);
    free(podcast->urlSource);
    free(podcast->album);
    free(podcast->sourceFilename);
    free(podcast->artist);
    free(podcast->date);
    free(podcast->description);
    free(podcast);
}

void mtpDestroyFileList(LIBMTP_file_t *list)
{
    while (list) {
        LIBMTP_file_t *next = list->next;
        LIBMTP_destroy_file_t(list);
        list = next;
    }
}

void mtpDestroyTrackList(LIBMTP_track_t *list)
{
    while (list) {
        LIBMTP_track_t *next = list->next;
        LIBMTP_destroy_track_t(list);
        list = next;
    }
}

void mtpDestroyPlaylistList(LIBMTP_playlist_t *list)
{
    while (list) {
        LIBMTP_playlist_t *next = list->next;
        LIBMTP_destroy_playlist_t(list);
        list = next;
    }
}

void mtpDestroyAlbumList(LIBMTP_album_t *list)
{
    while (list) {
        LIBMTP_album_t *next = list->next;
        LIBMTP_destroy_album_t(list);
        list = next;
    }
}

void MtpStringDeleter::operator()(char *p) const
{
    free(p);
}

QString mtpTakeString(char *text)
{
    if (!text) return {};
    QString result = QString::fromUtf8(text);
    free(text);
    return result;
}

LIBMTP_file_t *mtpCopyFile(const LIBMTP_file_t *file)
{
    if (!file) return nullptr;
    LIBMTP_file_t *copy = LIBMTP_new_file_t();
    if (!copy) return nullptr;
    copy->item_id = file->item_id;
    copy->parent_id = file->parent_id;
    copy->storage_id = file->storage_id;
    copy->filename = file->filename ? strdup(file->filename) : nullptr;
    copy->filesize = file->filesize;
    copy->modificationdate = file->modificationdate;
    copy->filetype = file->filetype;
    copy->next = nullptr;
    return copy;
}

namespace {

// In the order of the library's enumeration.
const char *const kFiletypeNames[] = {
    "FOLDER",     "WAV",
    "MP3",        "WMA",
    "OGG",        "AUDIBLE",
    "MP4",        "UNDEF_AUDIO",
    "WMV",        "AVI",
    "MPEG",       "ASF",
    "QT",         "UNDEF_VIDEO",
    "JPEG",       "JFIF",
    "TIFF",       "BMP",
    "GIF",        "PICT",
    "PNG",        "VCALENDAR1",
    "VCALENDAR2", "VCARD2",
    "VCARD3",     "WINDOWSIMAGEFORMAT",
    "WINEXEC",    "TEXT",
    "HTML",       "FIRMWARE",
    "AAC",        "MEDIACARD",
    "FLAC",       "MP2",
    "M4A",        "DOC",
    "XML",        "XLS",
    "PPT",        "MHT",
    "JP2",        "JPX",
    "ALBUM",      "PLAYLIST",
    "UNKNOWN",
};
static_assert(sizeof(kFiletypeNames) / sizeof(kFiletypeNames[0]) == LIBMTP_FILETYPE_UNKNOWN + 1,
              "one name per file type of the library");

} // namespace

QString mtpFiletypeName(LIBMTP_filetype_t type)
{
    const int index = int(type);
    if (index < 0 || index > int(LIBMTP_FILETYPE_UNKNOWN)) return QString::number(index);
    return QString::fromLatin1(kFiletypeNames[index]);
}

std::optional<LIBMTP_filetype_t> mtpFiletypeFromName(const QString &name)
{
    for (int i = 0; i <= int(LIBMTP_FILETYPE_UNKNOWN); ++i)
        if (name.compare(QLatin1String(kFiletypeNames[i]), Qt::CaseInsensitive) == 0) return LIBMTP_filetype_t(i);
    return std::nullopt;
}

namespace {

std::mutex &sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<MtpLibrary> &sharedSlot()
{
    static std::shared_ptr<MtpLibrary> library;
    return library;
}

} // namespace

std::shared_ptr<MtpLibrary> mtpLibraryFromEnvironment()
{
    const QString fixture = qEnvironmentVariable(kMtpSimulatorEnvironmentVariable);
    if (fixture.isEmpty()) return std::make_shared<DebianMtpLibrary>();
    auto simulator = std::make_shared<SimulatedMtpLibrary>();
    QString error;
    if (!simulator->addPhoneFromFile(fixture, &error)) {
        VTR_LOG(2, QStringLiteral("The simulated phone \"%1\" could not be loaded: %2").arg(fixture, error));
    }
    return simulator;
}

std::shared_ptr<MtpLibrary> mtpSharedLibrary()
{
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedSlot()) sharedSlot() = mtpLibraryFromEnvironment();
    return sharedSlot();
}

void mtpSetSharedLibrary(std::shared_ptr<MtpLibrary> library)
{
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedSlot() = std::move(library);
}
