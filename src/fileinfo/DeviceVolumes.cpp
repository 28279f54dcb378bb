#include "fileinfo/DeviceVolumes.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Descriptor.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "platform/VtrException.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <vector>

namespace {

const QString kFormat = QStringLiteral("vantrel.device-volume-state");
constexpr int kVersion = 1;
const QString kType = QStringLiteral("type");
const QString kName = QStringLiteral("name");
const QString kChildren = QStringLiteral("children");
const QString kSyncModDate = QStringLiteral("sync mod date");
const QString kDeviceModDate = QStringLiteral("device mod date");
constexpr int kMaxDepth = 512;

QString dateText(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime dateFromText(const QJsonValue &value)
{
    if (!value.isString()) return QDateTime();
    QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return date.isValid() ? date.toUTC() : QDateTime();
}

bool farApart(const QDateTime &a, const QDateTime &b)
{
    return qAbs(a.secsTo(b)) >= DeviceVolumeInfo::kForgetAfterSeconds;
}

} // namespace

namespace vtr {

QString standardizePath(const QString &path)
{
    if (path.isEmpty() || !path.endsWith(QLatin1Char('/'))) return path;
    return path.left(path.size() - 1);
}

} // namespace vtr

// ---- the record ------------------------------------------------------------------

DeviceVolumeInfo::DeviceVolumeInfo() : _uuid(vtr::stringWithNewUUID())
{
    _info.folder = true;
}

DeviceVolumeInfo::DeviceVolumeInfo(const QString &uuid) : DeviceVolumeInfo()
{
    if (uuid.isEmpty()) return;
    _uuid = uuid;
    readStateFromDisk();
}

DeviceVolumeInfo::~DeviceVolumeInfo()
{
    try {
        std::lock_guard<std::mutex> lock(_lock);
        writeStateToDisk();
    } catch (const VtrException &e) {
        VTR_LOG(2, QStringLiteral("%1: %2").arg(e.name(), e.reason()));
    } catch (const std::exception &e) {
        VTR_LOG(2, QStringLiteral("Saving the device volume state failed: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        VTR_LOG(2, QStringLiteral("Saving the device volume state failed."));
    }
}

QString DeviceVolumeInfo::stateFolderPath()
{
    return platform::dataFolder() + QStringLiteral("/Device File Systems");
}

QString DeviceVolumeInfo::stateFilePath(const QString &uuid)
{
    // The UUID may come from a marker file on a phone: it must stay one name.
    QString name = uuid;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QChar(0), QLatin1Char('_'));
    if (name.toUtf8().size() > 200)
        name = QString::fromLatin1(QCryptographicHash::hash(uuid.toUtf8(), QCryptographicHash::Sha1).toHex());
    return stateFolderPath() + QLatin1Char('/') + name + QStringLiteral(".uuid");
}

DeviceVolumeInfo::Node *DeviceVolumeInfo::fileAtPath(const QString &path, bool createIfNeeded, bool remove,
                                                     const QString &newName)
{
    const QString standardized = vtr::standardizePath(path);
    if (standardized.isEmpty() || standardized == QLatin1String("/")) return nullptr;
    const QStringList components = vtr::posixPathComponents(standardized);
    Node *folder = &_info;
    for (qsizetype i = 0; i < components.size(); ++i) {
        // Nothing lives below a file: neither found nor created.
        if (!folder->folder) return nullptr;
        const QString key = components.at(i).toUpper();
        const bool last = i == components.size() - 1;
        auto it = folder->children.find(key);
        if (it == folder->children.end()) {
            if (!createIfNeeded) return nullptr;
            auto node = std::make_unique<Node>();
            node->folder = !last;
            node->name = key;
            it = folder->children.emplace(key, std::move(node)).first;
        }
        if (!last) {
            folder = it->second.get();
            continue;
        }
        if (remove) {
            folder->children.erase(it);
            return nullptr;
        }
        if (!newName.isNull()) {
            const QString newKey = newName.toUpper();
            if (newKey == key) return it->second.get();
            std::unique_ptr<Node> node = std::move(it->second);
            folder->children.erase(it);
            node->name = newKey;
            Node *moved = node.get();
            folder->children[newKey] = std::move(node);
            return moved;
        }
        return it->second.get();
    }
    return nullptr;
}

bool DeviceVolumeInfo::hasNodeAtPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(_lock);
    return fileAtPath(path, false, false, QString()) != nullptr;
}

void DeviceVolumeInfo::setFileAtPath(const QString &path, const QDateTime &syncModDate, const QDateTime &deviceModDate)
{
    std::lock_guard<std::mutex> lock(_lock);
    Node *node = fileAtPath(path, true, false, QString());
    if (!node) return;
    node->syncModDate = syncModDate.isValid() ? syncModDate.toUTC() : QDateTime();
    node->deviceModDate = deviceModDate.isValid() ? deviceModDate.toUTC() : QDateTime();
    writeStateToDisk();
}

void DeviceVolumeInfo::updateFileAtPath(const QString &path, const QDateTime &deviceModDate)
{
    std::lock_guard<std::mutex> lock(_lock);
    Node *node = fileAtPath(path, true, false, QString());
    if (!node || !node->deviceModDate.isValid()) return;
    if (!deviceModDate.isValid() || farApart(node->deviceModDate, deviceModDate)) {
        node->syncModDate = QDateTime();
        node->deviceModDate = QDateTime();
        writeStateToDisk();
    }
}

QDateTime DeviceVolumeInfo::modificationDateForItemAtPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(_lock);
    Node *node = fileAtPath(path, false, false, QString());
    return node ? node->syncModDate : QDateTime();
}

void DeviceVolumeInfo::renameItemAtPath(const QString &path, const QString &newName)
{
    if (newName.isEmpty()) return;
    std::lock_guard<std::mutex> lock(_lock);
    fileAtPath(path, false, false, newName);
}

void DeviceVolumeInfo::removeItemAtPath(const QString &path)
{
    std::lock_guard<std::mutex> lock(_lock);
    fileAtPath(path, false, true, QString());
}

bool DeviceVolumeInfo::reconcileItem(Node &node, const VtrFileInfoPtr &item)
{
    if (!item || !item->exists()) return true;
    if (item->isFolder()) {
        if (!node.folder) return true;
        std::vector<QString> drop;
        for (auto &[key, child] : node.children) {
            const VtrFileInfoPtr childItem = key == QLatin1String("/") ? item : item->findWithWindowsName(key);
            if (reconcileItem(*child, childItem)) drop.push_back(key);
        }
        for (const QString &key : drop)
            node.children.erase(key);
        return false;
    }
    if (node.folder || !node.deviceModDate.isValid()) return true;
    const QDateTime itemDate = item->modificationDate();
    if (itemDate.isValid() && !farApart(itemDate, node.deviceModDate)) {
        try {
            item->setModificationDate(node.syncModDate);
        } catch (const std::exception &e) {
            VTR_LOG(1, QStringLiteral("Could not restore the date of \"%1\": %2")
                           .arg(item->humanFriendlyPath(), QString::fromLocal8Bit(e.what())));
            return false;
        }
    }
    return true;
}

void DeviceVolumeInfo::reconcileWithVolume(const VtrFileInfoPtr &volumeRoot)
{
    std::lock_guard<std::mutex> lock(_lock);
    reconcileItem(_info, volumeRoot);
    writeStateToDisk();
}

QString DeviceVolumeInfo::uuidInFiles(const VtrFileInfoList &files)
{
    for (const VtrFileInfoPtr &file : files) {
        if (!file || file->extension().compare(QLatin1String("uuid"), Qt::CaseInsensitive) != 0) continue;
        const QString name = file->nameWithoutExtension();
        if (!name.isEmpty() && !name.contains(QLatin1Char('_'))) return name;
    }
    return QString();
}

QString DeviceVolumeInfo::uuidForFileInfo(const VtrFileInfoPtr &volumeRoot)
{
    if (!volumeRoot) return QString();
    VtrFileInfoPtr info = volumeRoot->find(QStringLiteral("Migration Info"));
    if (!info || !info->isFolder()) return QString();
    VtrFileInfoPtr fileSystem = info->find(QStringLiteral("filesystem"));
    if (!fileSystem || !fileSystem->isFolder()) return QString();
    return uuidInFiles(fileSystem->folderContents());
}

// ---- the state file -----------------------------------------------------------------------

namespace {

QJsonObject nodeToJson(const QString &name, bool folder, const QDateTime &sync, const QDateTime &device,
                       const QJsonObject &children, bool isRoot)
{
    QJsonObject object;
    object.insert(kType, folder ? 1 : 0);
    if (!isRoot) object.insert(kName, name);
    if (folder) object.insert(kChildren, children);
    if (!folder && sync.isValid()) object.insert(kSyncModDate, dateText(sync));
    if (!folder && device.isValid()) object.insert(kDeviceModDate, dateText(device));
    return object;
}

} // namespace

void DeviceVolumeInfo::readStateFromDisk()
{
    const QString path = stateFilePath(_uuid);
    const QFileInfo fileInfo(path);
    if (fileInfo.exists() && !fileInfo.isFile())
        throw VtrException(
            QStringLiteral("DeviceVolumeInfo"),
            vtrLocalized("Failed to connect to the device file system because \"%1\" is not a file.").arg(path));
    if (!fileInfo.exists()) return;

    // A file of the data folder, read by its descriptor as it is written.
    QString problem;
    QJsonObject root;
    const std::optional<QByteArray> bytes = platform::readDataFile({QFileInfo(stateFolderPath()).fileName()},
                                                                   fileInfo.fileName(), qint64(1) << 30, &problem);
    if (bytes) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString();
        else if (!document.isObject())
            problem = QStringLiteral("no object");
        else
            root = document.object();
    }
    if (problem.isEmpty() && root.value(QStringLiteral("format")).toString() != kFormat)
        problem = QStringLiteral("unknown format");
    if (problem.isEmpty() && !root.value(QStringLiteral("info")).isObject()) problem = QStringLiteral("no \"info\"");
    if (!problem.isEmpty()) {
        VTR_LOG(2, QStringLiteral("The device volume state \"%1\" is damaged (%2); starting with an empty state.")
                       .arg(path, problem));
        return;
    }

    // Rebuild the tree, keeping every well-formed node.
    struct Pending
    {
        Node *node;
        QJsonObject json;
        int depth;
    };
    std::vector<Pending> pending{{&_info, root.value(QStringLiteral("info")).toObject(), 0}};
    while (!pending.empty()) {
        Pending item = pending.back();
        pending.pop_back();
        if (item.depth > kMaxDepth) continue;
        const QJsonObject children = item.json.value(kChildren).toObject();
        for (auto it = children.begin(); it != children.end(); ++it) {
            if (!it.value().isObject()) continue;
            const QJsonObject childJson = it.value().toObject();
            auto child = std::make_unique<Node>();
            child->folder = childJson.value(kType).toInt() == 1;
            child->name = it.key().toUpper();
            child->syncModDate = dateFromText(childJson.value(kSyncModDate));
            child->deviceModDate = dateFromText(childJson.value(kDeviceModDate));
            Node *raw = child.get();
            item.node->children[child->name] = std::move(child);
            if (raw->folder) pending.push_back({raw, childJson, item.depth + 1});
        }
    }
}

void DeviceVolumeInfo::writeStateToDisk()
{
    const QString path = stateFilePath(_uuid);
    const QString folder = stateFolderPath();
    const QFileInfo fileInfo(path);
    if (fileInfo.exists() && !fileInfo.isFile())
        throw VtrException(
            QStringLiteral("DeviceVolumeInfo"),
            vtrLocalized("Failed to connect to the device file system because \"%1\" is not a file.").arg(path));
    // By descriptor from the data folder: never through a link at its name or
    // in the place of a folder on the way.
    QString why;
    const platform::Descriptor folderFd(platform::openDataFolder({QFileInfo(folder).fileName()}, &why));
    if (!folderFd.isOpen())
        throw VtrException(
            QStringLiteral("DeviceVolumeInfo"),
            vtrLocalized("Failed to update our file system uuid file \"%1\" because it could not be created.")
                .arg(path));

    // Bottom-up conversion without recursion.
    struct Frame
    {
        const Node *node;
        QString key;
        QJsonObject children;
        std::map<QString, std::unique_ptr<Node>>::const_iterator next;
    };
    std::vector<Frame> stack;
    stack.push_back({&_info, QString(), QJsonObject(), _info.children.cbegin()});
    QJsonObject info;
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.node->folder && top.next != top.node->children.cend()) {
            const auto current = top.next++;
            const Node *child = current->second.get();
            if (child->folder) {
                stack.push_back({child, current->first, QJsonObject(), child->children.cbegin()});
            } else {
                top.children.insert(current->first, nodeToJson(child->name, false, child->syncModDate,
                                                               child->deviceModDate, QJsonObject(), false));
            }
            continue;
        }
        Frame done = std::move(stack.back());
        stack.pop_back();
        const bool isRoot = stack.empty();
        const QJsonObject object = nodeToJson(done.node->name, true, QDateTime(), QDateTime(), done.children, isRoot);
        if (isRoot)
            info = object;
        else
            stack.back().children.insert(done.key, object);
    }

    QJsonObject root;
    root.insert(QStringLiteral("format"), kFormat);
    root.insert(QStringLiteral("version"), kVersion);
    root.insert(QStringLiteral("uuid"), _uuid);
    root.insert(QStringLiteral("info"), info);

    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (!platform::replaceFileIn(folderFd.get(), folder, QFileInfo(path).fileName(), bytes, &why))
        throw VtrException(QStringLiteral("DeviceVolumeInfo"),
                           vtrLocalized("Failed to write our file system uuid file \"%1\": %2").arg(path, why));
}

// ---- the map of a device's volumes -----------------------------------------------------------

DeviceVolumes::InfoPtr DeviceVolumes::infoWithDriveStr(const QString &drive)
{
    std::lock_guard<std::mutex> lock(_lock);
    const auto it = _info.constFind(drive);
    return it == _info.constEnd() ? nullptr : it->info;
}

DeviceVolumes::InfoPtr DeviceVolumes::infoWithPath(const QString &windowsPath)
{
    QString drive;
    vtr::decomposeWindowsPath(windowsPath, &drive, nullptr);
    return infoWithDriveStr(drive);
}

DeviceVolumes::InfoPtr DeviceVolumes::infoWithUUID(const QString &uuid)
{
    if (uuid.isEmpty()) return nullptr;
    std::lock_guard<std::mutex> lock(_lock);
    for (const Entry &entry : std::as_const(_info)) {
        if (entry.uuid.compare(uuid, Qt::CaseInsensitive) == 0) return entry.info;
    }
    return nullptr;
}

DeviceVolumes::InfoPtr DeviceVolumes::infoWithVolumePath(const QString &drive, const QString &uuid)
{
    if (InfoPtr known = infoWithUUID(uuid)) return known;
    // Reading the state file happens outside the lock.
    InfoPtr record = uuid.isEmpty() ? std::make_shared<DeviceVolumeInfo>() : std::make_shared<DeviceVolumeInfo>(uuid);
    std::lock_guard<std::mutex> lock(_lock);
    _info.insert(drive, Entry{drive, record->uuid(), record});
    return record;
}

DeviceVolumes::InfoPtr DeviceVolumes::infoWithPath(const QString &windowsPath, const QString &uuid)
{
    QString drive;
    vtr::decomposeWindowsPath(windowsPath, &drive, nullptr);
    return infoWithVolumePath(drive, uuid);
}
