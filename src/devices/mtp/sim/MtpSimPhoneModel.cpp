// The simulated phone's model: its objects, storages and contents.

#include "devices/mtp/sim/SimulatedMtpLibraryPrivate.h"

#include <QDateTime>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

using mtpsim::Object;
using mtpsim::Storage;

// ============================================================================
// Helpers
// ============================================================================

namespace mtpsim {

LIBMTP_filetype_t filetypeForName(const std::string &name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 >= name.size()) return LIBMTP_FILETYPE_UNKNOWN;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    static const std::map<std::string, LIBMTP_filetype_t> table = {
        {"wav", LIBMTP_FILETYPE_WAV},        {"mp3", LIBMTP_FILETYPE_MP3},        {"wma", LIBMTP_FILETYPE_WMA},
        {"ogg", LIBMTP_FILETYPE_OGG},        {"aa", LIBMTP_FILETYPE_AUDIBLE},     {"mp4", LIBMTP_FILETYPE_MP4},
        {"m4v", LIBMTP_FILETYPE_MP4},        {"wmv", LIBMTP_FILETYPE_WMV},        {"avi", LIBMTP_FILETYPE_AVI},
        {"mpg", LIBMTP_FILETYPE_MPEG},       {"mpeg", LIBMTP_FILETYPE_MPEG},      {"asf", LIBMTP_FILETYPE_ASF},
        {"mov", LIBMTP_FILETYPE_QT},         {"qt", LIBMTP_FILETYPE_QT},          {"3gp", LIBMTP_FILETYPE_UNDEF_VIDEO},
        {"jpg", LIBMTP_FILETYPE_JPEG},       {"jpeg", LIBMTP_FILETYPE_JPEG},      {"jfif", LIBMTP_FILETYPE_JFIF},
        {"tif", LIBMTP_FILETYPE_TIFF},       {"tiff", LIBMTP_FILETYPE_TIFF},      {"bmp", LIBMTP_FILETYPE_BMP},
        {"gif", LIBMTP_FILETYPE_GIF},        {"pict", LIBMTP_FILETYPE_PICT},      {"png", LIBMTP_FILETYPE_PNG},
        {"vcs", LIBMTP_FILETYPE_VCALENDAR1}, {"ics", LIBMTP_FILETYPE_VCALENDAR2}, {"vcf", LIBMTP_FILETYPE_VCARD3},
        {"exe", LIBMTP_FILETYPE_WINEXEC},    {"txt", LIBMTP_FILETYPE_TEXT},       {"htm", LIBMTP_FILETYPE_HTML},
        {"html", LIBMTP_FILETYPE_HTML},      {"bin", LIBMTP_FILETYPE_FIRMWARE},   {"aac", LIBMTP_FILETYPE_AAC},
        {"flac", LIBMTP_FILETYPE_FLAC},      {"mp2", LIBMTP_FILETYPE_MP2},        {"m4a", LIBMTP_FILETYPE_M4A},
        {"doc", LIBMTP_FILETYPE_DOC},        {"xml", LIBMTP_FILETYPE_XML},        {"xls", LIBMTP_FILETYPE_XLS},
        {"ppt", LIBMTP_FILETYPE_PPT},        {"mht", LIBMTP_FILETYPE_MHT},        {"jp2", LIBMTP_FILETYPE_JP2},
        {"jpx", LIBMTP_FILETYPE_JPX},        {"alb", LIBMTP_FILETYPE_ALBUM},      {"pla", LIBMTP_FILETYPE_PLAYLIST},
    };
    auto it = table.find(ext);
    return it == table.end() ? LIBMTP_FILETYPE_UNKNOWN : it->second;
}

bool isValidNewName(const char *name)
{
    if (!name || !*name) return false;
    if (std::strchr(name, '/')) return false;
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

void freeStorageList(LIBMTP_devicestorage_t *list)
{
    while (list) {
        LIBMTP_devicestorage_t *next = list->next;
        free(list->StorageDescription);
        free(list->VolumeIdentifier);
        free(list);
        list = next;
    }
}

} // namespace mtpsim

// ============================================================================
// Phone state
// ============================================================================

Storage *MtpSimPhone::Data::storage(uint32_t id)
{
    for (Storage &s : storages)
        if (s.spec.id == id) return &s;
    return nullptr;
}

Storage *MtpSimPhone::Data::storageOrFirst(uint32_t id)
{
    if (id == 0) return storages.empty() ? nullptr : &storages.front();
    return storage(id);
}

Object *MtpSimPhone::Data::find(uint32_t id)
{
    auto it = objects.find(id);
    return it == objects.end() ? nullptr : &it->second;
}

std::vector<uint32_t> &MtpSimPhone::Data::childList(uint32_t storageId, uint32_t parentId)
{
    return children[mtpsim::childKey(storageId, parentId)];
}

bool MtpSimPhone::Data::nameTaken(uint32_t storageId, uint32_t parentId, const std::string &name, uint32_t except) const
{
    auto it = children.find(mtpsim::childKey(storageId, parentId));
    if (it == children.end()) return false;
    for (uint32_t id : it->second) {
        if (id == except) continue;
        auto object = objects.find(id);
        if (object != objects.end() && object->second.name == name) return true;
    }
    return false;
}

bool MtpSimPhone::Data::isInSubtree(uint32_t rootId, uint32_t candidate) const
{
    // Walks up from the candidate; bounded, as forced parents may loop.
    uint32_t id = candidate;
    for (size_t steps = 0; id != 0 && steps <= objects.size(); ++steps) {
        if (id == rootId) return true;
        auto it = objects.find(id);
        if (it == objects.end()) return false;
        id = it->second.parentId;
    }
    return false;
}

uint32_t MtpSimPhone::Data::allocateId()
{
    while (nextObjectId == 0 || nextObjectId == 0xFFFFFFFFu || objects.count(nextObjectId))
        ++nextObjectId;
    return nextObjectId++;
}

bool MtpSimPhone::Data::insert(Object object, bool chargeSpace)
{
    Storage *s = storage(object.storageId);
    if (!s) return false;
    if (object.parentId != 0) {
        const Object *parent = find(object.parentId);
        if (!parent || !parent->folder) return false;
    }
    if (object.id == 0) object.id = allocateId();
    if (objects.count(object.id)) return false;
    if (object.patternSeed == 0) object.patternSeed = object.id;
    if (chargeSpace && !object.folder) {
        const uint64_t size = uint64_t(std::max<qint64>(object.size, 0));
        s->freeSpace = s->freeSpace > size ? s->freeSpace - size : 0;
    }
    childList(object.storageId, object.parentId).push_back(object.id);
    objects.emplace(object.id, std::move(object));
    return true;
}

void MtpSimPhone::Data::detachFromParent(const Object &object)
{
    auto it = children.find(mtpsim::childKey(object.storageId, object.parentId));
    if (it == children.end()) return;
    auto &list = it->second;
    list.erase(std::remove(list.begin(), list.end(), object.id), list.end());
}

void MtpSimPhone::Data::removeSubtree(uint32_t id)
{
    // Collect first: forced parents may make the "tree" revisit itself.
    std::vector<uint32_t> doomed;
    std::unordered_set<uint32_t> seen;
    std::vector<uint32_t> pending{id};
    while (!pending.empty()) {
        const uint32_t current = pending.back();
        pending.pop_back();
        if (!seen.insert(current).second || !objects.count(current)) continue;
        doomed.push_back(current);
        auto kids = children.find(mtpsim::childKey(0, current));
        if (kids != children.end()) pending.insert(pending.end(), kids->second.begin(), kids->second.end());
    }
    for (uint32_t victim : doomed) {
        auto it = objects.find(victim);
        if (it == objects.end()) continue;
        const Object &object = it->second;
        if (!object.folder) {
            if (Storage *s = storage(object.storageId)) {
                s->freeSpace =
                    std::min<uint64_t>(s->spec.capacity, s->freeSpace + uint64_t(std::max<qint64>(object.size, 0)));
            }
        }
        detachFromParent(object);
        children.erase(mtpsim::childKey(0, victim));
        objects.erase(it);
    }
    // Playlists and albums lose the tracks that went.
    const std::unordered_set<uint32_t> gone(doomed.begin(), doomed.end());
    for (auto &[objectId, object] : objects) {
        auto &refs = object.references;
        refs.erase(std::remove_if(refs.begin(), refs.end(), [&](uint32_t r) { return gone.count(r) > 0; }), refs.end());
    }
}

time_t MtpSimPhone::Data::now() const
{
    return options.clock != 0 ? options.clock : time_t(QDateTime::currentSecsSinceEpoch());
}

void MtpSimPhone::Data::readContents(const Object &object, qint64 offset, unsigned char *out, qint64 length) const
{
    if (object.hasContents) {
        std::memcpy(out, object.contents.constData() + offset, size_t(length));
        return;
    }
    mtpsim::fillPattern(object.patternSeed, offset, out, length);
}

QByteArray MtpSimPhone::Data::contentsOf(const Object &object) const
{
    if (object.folder || !object.digestOnly.isEmpty()) return {};
    if (object.hasContents) return object.contents;
    QByteArray bytes(object.size, Qt::Uninitialized);
    readContents(object, 0, reinterpret_cast<unsigned char *>(bytes.data()), object.size);
    return bytes;
}
