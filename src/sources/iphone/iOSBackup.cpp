#include "sources/iphone/iOSBackup.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/VtrString.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"
#include "sources/iphone/ByteCursor.h"
#include "sources/iphone/MbdbReader.h"
#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iPhoneBackupFolders.h"

#include <QCollator>
#include <QHash>
#include <QSet>

#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

constexpr qsizetype kKeyLength = 20;
constexpr qsizetype kKeyAndOffsetLength = kKeyLength + 4;

QVariantMap readPropertyList(const VtrFileInfoPtr &folder, const QString &name)
{
    const VtrFileInfoPtr file = folder->find(name);
    if (!file || !file->exists()) return {};
    return vtr::plist::dictionaryFromData(file->fileContents());
}

// The 20 key bytes a 40-digit hexadecimal file name stands for.
bool keyFromName(const QString &name, QByteArray *key)
{
    if (name.size() != 2 * kKeyLength) return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F'))) return false;
    }
    *key = QByteArray::fromHex(name.toLatin1());
    return key->size() == kKeyLength;
}

quint64 first8(const char *bytes)
{
    quint64 value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

} // namespace

// ---- iOSAppInfo ----------------------------------------------------------------------------

QString iOSAppInfo::appName() const
{
    const QString last = _appID.section(QLatin1Char('.'), -1);
    if (!last.isEmpty()) return last;
    if (!_appID.isEmpty()) return _appID;
    return vtrLocalized("[unknown app]");
}

int iOSAppInfo::compareNames(const iOSAppInfo &other) const
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator.compare(appName(), other.appName());
}

// ---- iOSFile -----------------------------------------------------------------------------------

iOSFile::iOSFile(VtrFileInfoPtr rawFile, QString deviceFilepath, QString deviceDomain)
    : _rawFile(std::move(rawFile)), _deviceFilepath(std::move(deviceFilepath)), _deviceDomain(std::move(deviceDomain))
{
}

QString iOSFile::deviceFilename() const
{
    return vtr::posixLastPathComponent(_deviceFilepath);
}

QByteArray iOSFile::contents() const
{
    return _rawFile ? _rawFile->fileContents() : QByteArray();
}

// ---- iOSBackup ---------------------------------------------------------------------------------

iOSBackup::iOSBackup(VtrFileInfoPtr folder) : _backupFolder(std::move(folder))
{
    _info = readPropertyList(_backupFolder, QStringLiteral("Info.plist"));
    _status = readPropertyList(_backupFolder, QStringLiteral("Status.plist"));
}

iOSBackup::Ptr iOSBackup::initWithBackupFolder(const VtrFileInfoPtr &folder)
{
    if (!folder) return nullptr;
    return Ptr(new iOSBackup(folder));
}

QList<iOSBackup::Ptr> iOSBackup::iOSBackups()
{
    QList<Ptr> backups;
    for (const QString &path : vtr::iphone::backupSubfolders()) {
        if (Ptr backup = initWithBackupFolder(VtrMacFileInfo::fileInfoWithPath(path))) backups.append(backup);
    }
    return backups;
}

iOSBackup::Ptr iOSBackup::latestBackup()
{
    Ptr latest;
    for (const Ptr &backup : iOSBackups()) {
        if (!backup->isCurrentBackup()) continue;
        if (!latest || backup->lastBackupDate() > latest->lastBackupDate()) latest = backup;
    }
    return latest;
}

QString iOSBackup::deviceID() const
{
    return _info.value(QStringLiteral("Unique Identifier")).toString();
}

QString iOSBackup::deviceName() const
{
    return _info.value(QStringLiteral("Display Name")).toString();
}

QString iOSBackup::deviceSerialNumber() const
{
    return _info.value(QStringLiteral("Serial Number")).toString();
}

QString iOSBackup::productVersion() const
{
    return _info.value(QStringLiteral("Product Version")).toString();
}

// The status list dates the backup; backups without one (older ones) carry
// the date in "Info.plist" only.
QDateTime iOSBackup::lastBackupDate() const
{
    const QDateTime status = _status.value(QStringLiteral("Date")).toDateTime();
    if (status.isValid()) return status;
    return _info.value(QStringLiteral("Last Backup Date")).toDateTime();
}

bool iOSBackup::isFullBackup() const
{
    return _status.value(QStringLiteral("IsFullBackup")).toBool();
}

bool iOSBackup::isCurrentBackup() const
{
    return !_backupFolder->name().contains(QLatin1Char('-'));
}

// Older backups list the library's apps in the iTunes settings, newer ones
// the phone's own under "Installed Applications"; an app named in both is
// listed once.
QList<iOSAppInfo> iOSBackup::deviceApps() const
{
    QList<iOSAppInfo> apps;
    QSet<QString> seen;
    const QVariantMap settings = _info.value(QStringLiteral("iTunes Settings")).toMap();
    for (const QVariant &list : {settings.value(QStringLiteral("LibraryApplications")),
                                 _info.value(QStringLiteral("Installed Applications"))}) {
        for (const QVariant &id : list.toList()) {
            const QString appID = id.toString();
            if (seen.contains(appID)) continue;
            seen.insert(appID);
            apps.append(iOSAppInfo(appID));
        }
    }
    return apps;
}

const QList<iOSFile> &iOSBackup::deviceFiles()
{
    if (!_deviceFiles) {
        const VtrFileInfoPtr index = _backupFolder->find(QStringLiteral("Manifest.mbdx"));
        const VtrFileInfoPtr database = _backupFolder->find(QStringLiteral("Manifest.mbdb"));
        const bool hasIndex = index && index->exists();
        if (database && database->exists())
            _deviceFiles = hasIndex ? buildFileList(_backupFolder, index->fileContents(), database->fileContents())
                                    : buildFileListFromDatabase(_backupFolder, database->fileContents());
        else
            _deviceFiles = QList<iOSFile>();
    }
    return *_deviceFiles;
}

QList<iOSFile> iOSBackup::capturedFiles(const QStringList &extensions)
{
    QList<iOSFile> files;
    for (const iOSFile &file : deviceFiles()) {
        const QString &path = file.deviceFilepath();
        if (!path.contains(QLatin1String("/DCIM/"), Qt::CaseInsensitive)) continue;
        if (extensions.contains(vtr::posixPathExtension(path), Qt::CaseInsensitive)) files.append(file);
    }
    return files;
}

QList<iOSFile> iOSBackup::photosCapturedOnDevice()
{
    return capturedFiles({QStringLiteral("JPG"), QStringLiteral("PNG")});
}

QList<iOSFile> iOSBackup::videosCapturedOnDevice()
{
    return capturedFiles({QStringLiteral("MOV"), QStringLiteral("MP4"), QStringLiteral("3GP")});
}

namespace {

// The backup folder's files with a 40-digit name, in listing order, each
// with its key.
std::vector<std::pair<VtrFileInfoPtr, QByteArray>> keyedFiles(const VtrFileInfoPtr &folder)
{
    std::vector<std::pair<VtrFileInfoPtr, QByteArray>> files;
    VtrFileInfoList children;
    try {
        children = folder->folderContents();
    } catch (const VtrException &) {
        return files;
    }
    for (const VtrFileInfoPtr &child : children) {
        QByteArray key;
        if (child && child->isFile() && keyFromName(child->name(), &key)) files.emplace_back(child, key);
    }
    return files;
}

} // namespace

// Backups of iOS 5 and later keep no index: each record's file is named by
// the SHA-1 of its domain and path. Of two records with one name (which only
// a damaged database holds) the first with a path counts, as in the index.
QList<iOSFile> iOSBackup::buildFileListFromDatabase(const VtrFileInfoPtr &folder, const QByteArray &database)
{
    QHash<QByteArray, std::pair<QByteArray, QByteArray>> byKey;
    if (vtr::mbdb::isManifest(database)) {
        vtr::ByteCursor cursor(database, vtr::mbdb::kHeaderSize);
        vtr::mbdb::Record record;
        while (!cursor.atEnd() && vtr::mbdb::readRecord(cursor, &record)) {
            if (record.path.isEmpty()) continue;
            const QByteArray key = QByteArray::fromHex(record.backupFileName().toLatin1());
            if (!byKey.contains(key)) byKey.insert(key, {record.domain, record.path});
        }
    }
    QList<iOSFile> files;
    for (const auto &[file, key] : keyedFiles(folder)) {
        const auto found = byKey.constFind(key);
        if (found != byKey.cend())
            files.append(iOSFile(file, QString::fromUtf8(found->second), QString::fromUtf8(found->first)));
    }
    return files;
}

// Every position of the index is a candidate, as a byte-by-byte search would
// find it; the index is walked once for all keys, so a backup of many
// thousand files costs one pass and not one pass per file.
QList<iOSFile> iOSBackup::buildFileList(const VtrFileInfoPtr &folder, const QByteArray &index,
                                        const QByteArray &database)
{
    struct Entry
    {
        VtrFileInfoPtr file;
        QByteArray key;
        std::vector<qsizetype> positions;
    };
    std::vector<Entry> entries;
    for (auto &[file, key] : keyedFiles(folder)) entries.push_back({file, key, {}});

    std::unordered_multimap<quint64, size_t> byPrefix;
    for (size_t i = 0; i < entries.size(); ++i) byPrefix.emplace(first8(entries[i].key.constData()), i);
    const char *bytes = index.constData();
    for (qsizetype p = 0; !byPrefix.empty() && p + kKeyAndOffsetLength <= index.size(); ++p) {
        auto range = byPrefix.equal_range(first8(bytes + p));
        for (auto it = range.first; it != range.second; ++it) {
            Entry &entry = entries[it->second];
            if (std::memcmp(bytes + p, entry.key.constData(), size_t(kKeyLength)) == 0) entry.positions.push_back(p);
        }
    }

    QList<iOSFile> files;
    for (const Entry &entry : entries) {
        qsizetype searchFrom = 0;
        for (qsizetype p : entry.positions) {
            if (p < searchFrom) continue;
            vtr::ByteCursor offsetCursor(index, p + kKeyLength);
            quint32 offset = 0;
            offsetCursor.readBE(&offset);
            vtr::ByteCursor record(database, vtr::mbdb::kHeaderSize + qint64(offset));
            QByteArray domain;
            QByteArray path;
            if (!vtr::mbdb::readString(record, &domain) || !vtr::mbdb::readString(record, &path)) break;
            if (path.isEmpty()) {
                searchFrom = p + kKeyLength;
                continue;
            }
            files.append(iOSFile(entry.file, QString::fromUtf8(path), QString::fromUtf8(domain)));
            break;
        }
    }
    return files;
}
