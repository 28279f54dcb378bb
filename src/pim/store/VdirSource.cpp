#include "pim/store/VdirSource.h"

#include "foundation/Log.h"
#include "pim/store/ICalRecords.h"
#include "pim/store/VCardRecords.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QFile>
#include <QFileInfo>

namespace syncstore {

namespace {

QString quoted(const QString &path) { return QStringLiteral("The vdir folder \"%1\"").arg(path); }

QStringList itemFiles(const QString &folder, const QString &suffix)
{
    QDir dir(folder);
    const QStringList filter{QStringLiteral("*.") + suffix};
    const QStringList names = dir.entryList(filter, QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name);
    // Files that exist but cannot be read are not skipped silently.
    const QStringList all = dir.entryList(filter, QDir::Files | QDir::Hidden, QDir::Name);
    if (all.size() != names.size()) {
        const QSet<QString> readable(names.cbegin(), names.cend());
        for (const QString &n : all)
            if (!readable.contains(n)) throw sourceException(quoted(folder), QStringLiteral("\"%1\" is not readable").arg(n));
    }
    QStringList paths;
    for (const QString &n : names) paths.append(dir.filePath(n));
    return paths;
}

// The collections of a named folder: itself and its subfolders that hold items.
QStringList collections(const QString &folder, const QString &suffix)
{
    QDir dir(folder);
    if (!dir.isReadable()) throw sourceException(quoted(folder), QStringLiteral("the folder cannot be listed"));
    // A folder is a collection when it holds at least one item file.
    auto holdsItems = [&](const QString &path) {
        return QDirIterator(path, {QStringLiteral("*.") + suffix}, QDir::Files | QDir::Hidden).hasNext();
    };
    QStringList out;
    if (holdsItems(folder)) out.append(QFileInfo(folder).absoluteFilePath());
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = dir.absoluteFilePath(sub);
        if (!QDir(path).isReadable()) throw sourceException(quoted(path), QStringLiteral("the folder cannot be listed"));
        if (holdsItems(path)) out.append(path);
    }
    return out;
}

QByteArray readFile(const QString &path, const QString &collection)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw sourceException(quoted(collection), QStringLiteral("\"%1\": %2").arg(QFileInfo(path).fileName(), f.errorString()));
    return f.readAll();
}

QString metadata(const QString &collection, const char *name)
{
    QFile f(QDir(collection).filePath(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

}  // namespace

VdirSource::VdirSource(QStringList folders) : m_folders(std::move(folders)) {}

QString VdirSource::name() const { return QStringLiteral("the vdir folders"); }

QStringList VdirSource::folders() const
{
    if (!m_folders.isEmpty()) return m_folders;
    const QVariant v = platform::UserDefaults::value(kVdirFoldersDefaultsKey);
    return v.typeId() == QMetaType::QString ? QStringList{v.toString()} : v.toStringList();
}

SourceReadResult VdirSource::read(SyncDataKind kind, SyncRecordSink &sink)
{
    SourceReadResult result;
    const QString suffix = kind == SyncDataKind::Contacts ? QStringLiteral("vcf") : QStringLiteral("ics");
    ContactRecordBuilder contacts(sink);
    for (const QString &folder : folders()) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            VTR_LOG(0, QStringLiteral("The vdir folder \"%1\" does not exist").arg(folder));
            continue;
        }
        result.found = true;
        for (const QString &collection : collections(folder, suffix)) {
            result.collections.append(collection);
            if (kind == SyncDataKind::Calendars) {
                QVariantMap cal{{QStringLiteral("title"), metadata(collection, "displayname")}};
                if (cal.value(QStringLiteral("title")).toString().isEmpty())
                    cal.insert(QStringLiteral("title"), QFileInfo(collection).fileName());
                const QString color = storeColorText(metadata(collection, "color"));
                if (!color.isNull()) cal.insert(QStringLiteral("color"), color);
                cal.insert(QStringLiteral("read only"), QFileInfo(collection).isWritable() ? 0 : 1);
                sink.addRecord(collection, entity::Calendar, cal);
                ++result.items;
                continue;
            }
            CalendarItemBuilder items(sink, kind, collection);
            for (const QString &file : itemFiles(collection, suffix)) {
                const QByteArray data = readFile(file, collection);
                const QString base = QFileInfo(file).completeBaseName();
                bool ok = true;
                if (kind == SyncDataKind::Contacts) {
                    ok = contacts.addVCardFile(data, base) > 0;
                } else {
                    ok = items.addICalendarText(data, base);
                }
                if (!ok) VTR_LOG(1, QStringLiteral("Left out \"%1\": not a readable item").arg(file));
            }
            items.finish();
            result.items += items.itemCount();
        }
    }
    contacts.finishGroups();
    if (kind == SyncDataKind::Contacts) result.items = contacts.contactCount();
    return result;
}

}  // namespace syncstore
