#include "sources/iphone/IPhoneDatabase.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "foundation/Log.h"
#include "foundation/VtrString.h"
#include "platform/Folders.h"
#include "platform/VtrException.h"
#include "sources/iphone/PropertyList.h"
#include "sources/iphone/iPhoneBackupFolders.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimeZone>
#include <QUrl>

#include <sqlite3.h>

#include <memory>

namespace {

// Seconds between 1970-01-01 and 2001-01-01 (UTC).
constexpr qint64 kReferenceDateOffset = 978307200;
// A private immutable copy is never busy; a bound keeps a surprise finite.
constexpr int kMaxBusyRetries = 100;

struct DatabaseClose
{
    void operator()(sqlite3 *db) const { sqlite3_close(db); }
};
struct StatementFinalize
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using DatabasePtr = std::unique_ptr<sqlite3, DatabaseClose>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

StatementPtr prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return StatementPtr(statement);
}

// The fixed statements of each kind, tried in order.
QList<const char *> statementsForKind(qint32 kind)
{
    switch (kind) {
    case IPhoneDatabase::kCallHistory: return {"select * from call"};
    case IPhoneDatabase::kNotes: return {"select * from note_bodies"};
    case IPhoneDatabase::kRecordings: return {"select * from ZRECORDING"};
    case IPhoneDatabase::kVoicemail: return {"select * from voicemail"};
    case IPhoneDatabase::kCoreDataNotes: return {"select * from ZNOTE"};
    default: return {"select * from message", "select * from messages"};
    }
}

QString columnName(sqlite3_stmt *statement, int column)
{
    const char *name = sqlite3_column_name(statement, column);
    return name ? QString::fromUtf8(name) : QString(QLatin1String(""));
}

bool validText(sqlite3_stmt *statement, int column, QString *out)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    const int length = sqlite3_column_bytes(statement, column);
    if (!text) return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *out = decoder.decode(QByteArrayView(text, length));
    return !decoder.hasError();
}

// One result row; values that cannot be converted are left out (logged).
QVariantMap readRow(sqlite3_stmt *statement, const QStringList &names, qint32 kind)
{
    QVariantMap row;
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names[i];
        switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER: {
            const qint64 value = sqlite3_column_int64(statement, i);
            if (name.compare(QLatin1String("date"), Qt::CaseInsensitive) == 0)
                row.insert(name, QDateTime::fromSecsSinceEpoch(value, QTimeZone::utc()));
            else if (kind == IPhoneDatabase::kNotes && name == QLatin1String("creation_date"))
                row.insert(name, QDateTime::fromSecsSinceEpoch(value + kReferenceDateOffset, QTimeZone::utc()));
            else
                row.insert(name, value);
            break;
        }
        case SQLITE_FLOAT: row.insert(name, sqlite3_column_double(statement, i)); break;
        case SQLITE_TEXT: {
            QString text;
            if (validText(statement, i, &text))
                row.insert(name, text);
            else
                VTR_LOG(2, QStringLiteral("couldn't get string for \"%1\".").arg(name));
            break;
        }
        case SQLITE_BLOB: {
            const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement, i));
            row.insert(name, QByteArray(bytes ? bytes : "", sqlite3_column_bytes(statement, i)));
            break;
        }
        case SQLITE_NULL: row.insert(name, vtr::jsonNull()); break;
        default:
            VTR_LOG(2, QStringLiteral("unknown SQLite data type %1").arg(sqlite3_column_type(statement, i)));
            break;
        }
    }
    return row;
}

// Each note body gains the columns of its "Note" row. The row is found by a
// bound parameter: nothing from the file becomes SQL text.
void readNoteDatesAndTitles(sqlite3 *db, QVariantList &rows)
{
    StatementPtr statement = prepare(db, "select * from Note where ROWID=?");
    if (!statement) return;
    for (QVariant &rowValue : rows) {
        QVariantMap row = rowValue.toMap();
        const QVariant noteID = row.value(QStringLiteral("note_id"));
        sqlite3_reset(statement.get());
        if (noteID.typeId() == QMetaType::LongLong || noteID.typeId() == QMetaType::Int)
            sqlite3_bind_int64(statement.get(), 1, noteID.toLongLong());
        else if (noteID.typeId() == QMetaType::QString)
            sqlite3_bind_text(statement.get(), 1, noteID.toString().toUtf8().constData(), -1, SQLITE_TRANSIENT);
        else
            continue;
        while (sqlite3_step(statement.get()) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) {
                const QString name = columnName(statement.get(), i);
                switch (sqlite3_column_type(statement.get(), i)) {
                case SQLITE_INTEGER: row.insert(name, qint64(sqlite3_column_int64(statement.get(), i))); break;
                case SQLITE_FLOAT: row.insert(name, sqlite3_column_double(statement.get(), i)); break;
                default: {
                    QString text;
                    if (validText(statement.get(), i, &text)) row.insert(name, text);
                    break;
                }
                }
            }
        }
        rowValue = row;
    }
}

} // namespace

IPhoneDatabase::IPhoneDatabase(QByteArray data) : _data(std::move(data)) {}

IPhoneDatabase::~IPhoneDatabase() = default;

QString IPhoneDatabase::pathToTempFile()
{
    if (!_folder) {
        QString root;
        try {
            root = platform::temporaryFolder();
        } catch (const VtrException &) {
            return QString();
        }
        auto folder = std::make_unique<QTemporaryDir>(root + QStringLiteral("/iphone-db-XXXXXX"));
        if (!folder->isValid()) return QString();
        _folder = std::move(folder);
    }
    return _folder->filePath(QStringLiteral("com.vantrel.iphone.dump.temp.%1").arg(_dbType));
}

std::optional<QVariantList> IPhoneDatabase::array()
{
    if (_data.isEmpty()) return std::nullopt;
    const QString path = pathToTempFile();
    bool written = false;
    if (!path.isEmpty()) {
        QFile::remove(path);
        QSaveFile file(path);
        written = file.open(QIODevice::WriteOnly) && file.write(_data) == _data.size() && file.commit();
    }
    sqlite3 *rawDb = nullptr;
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/") + "?mode=ro&immutable=1";
    const int rc = written ? sqlite3_open_v2(uri.constData(), &rawDb, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr)
                           : SQLITE_CANTOPEN;
    DatabasePtr db(rawDb);
    if (rc != SQLITE_OK) {
        VTR_LOG(2, QStringLiteral("Failed to open db in file \"%1\" (%2).").arg(path).arg(_dbType));
        return std::nullopt;
    }

    StatementPtr statement;
    const QList<const char *> statements = statementsForKind(_dbType);
    for (const char *sql : statements) {
        if ((statement = prepare(db.get(), sql))) break;
    }
    if (!statement) {
        VTR_LOG(2, QStringLiteral("sqlite3_prepare failed with command \"%1\".").arg(QLatin1String(statements.last())));
        return std::nullopt;
    }

    QStringList names;
    for (int i = 0; i < sqlite3_column_count(statement.get()); ++i) names.append(columnName(statement.get(), i));
    QVariantList rows;
    int busy = 0;
    for (;;) {
        const int step = sqlite3_step(statement.get());
        if (step == SQLITE_BUSY && ++busy <= kMaxBusyRetries) continue;
        if (step != SQLITE_ROW) break;
        rows.append(readRow(statement.get(), names, _dbType));
    }
    statement.reset();
    if (_dbType == kNotes && !rows.isEmpty()) readNoteDatesAndTitles(db.get(), rows);
    return rows;
}

// ---- shared pieces ---------------------------------------------------------------------------

qint32 IPhoneDatabase::kindForDevicePath(const QString &devicePath)
{
    const QString extension = vtr::posixPathExtension(devicePath);
    if (extension.compare(QLatin1String("sqlitedb"), Qt::CaseInsensitive) != 0
        && extension.compare(QLatin1String("db"), Qt::CaseInsensitive) != 0)
        return -1;
    const QString base = vtr::posixDeletingPathExtension(vtr::posixLastPathComponent(devicePath));
    if (base == QLatin1String("sms")) return kMessages;
    if (base == QLatin1String("call_history")) return kCallHistory;
    if (base == QLatin1String("notes")) return kNotes;
    return -1;
}

bool IPhoneDatabase::computerNameFromPreferences(const QByteArray &data, QString *name, QString *identifier)
{
    const QVariantMap preferences = vtr::plist::dictionaryFromData(data);
    const QString computer = preferences.value(QStringLiteral("System"))
                                 .toMap()
                                 .value(QStringLiteral("System"))
                                 .toMap()
                                 .value(QStringLiteral("ComputerName"))
                                 .toString();
    if (computer.isEmpty()) return false;
    static const VtrCharacterSet removed =
        VtrCharacterSet::whitespaceAndNewlines().united(VtrCharacterSet::fromCharacters(QStringLiteral("-")));
    *name = computer;
    *identifier = vtr::replaceInvalidChars(computer, removed, QString(QLatin1String("")));
    return true;
}

void IPhoneDatabase::databaseBytesForEntry(const QVariantMap &entry, const QString &entryPath, QByteArray *bytes,
                                           QDateTime *modified)
{
    QString holder = entryPath;
    const QByteArray inside = entry.value(QStringLiteral("Data")).toByteArray();
    if (inside.isEmpty() && vtr::posixPathExtension(entryPath).compare(QLatin1String("mdinfo"), Qt::CaseInsensitive) == 0) {
        holder = vtr::posixAppendPathExtension(vtr::posixDeletingPathExtension(entryPath), QStringLiteral("mddata"));
        if (bytes) {
            QFile file(holder);
            *bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
    } else if (bytes) {
        *bytes = inside;
    }
    if (modified) {
        const VtrMacFileInfo::Ptr info = VtrMacFileInfo::fileInfoWithPath(holder);
        *modified = info->exists() ? info->modificationDate() : QDateTime();
    }
}

// ---- backup folder scans -------------------------------------------------------------------

QStringList IPhoneDatabase::getDeviceDirectories()
{
    return vtr::iphone::backupSubfolders();
}

std::optional<QVariantMap> IPhoneDatabase::dbInfoFromBackupDir(const QString &folder, qint32 kind)
{
    QString deviceName;
    QString deviceID;
    QVariantList records;
    VtrFileInfoList entries;
    try {
        entries = VtrMacFileInfo::fileInfoWithPath(folder)->folderContentsDeepWithFilter(nullptr, true);
    } catch (const VtrException &) {
        return std::nullopt;
    }
    for (const VtrFileInfoPtr &entryInfo : entries) {
        if (!entryInfo || !entryInfo->isFile()) continue;
        const QString entryPath = entryInfo->path();
        const QVariantMap entry = vtr::plist::dictionaryFromFile(entryPath);
        if (entryInfo->name().compare(QLatin1String("Info.plist"), Qt::CaseInsensitive) == 0) {
            deviceName = entry.value(QStringLiteral("Display Name")).toString();
            deviceID = entry.value(QStringLiteral("Target Identifier")).toString();
        }
        const QString devicePath = entry.value(QStringLiteral("Path")).toString();
        if (devicePath.isEmpty()) continue;
        if (vtr::posixLastPathComponent(devicePath).compare(QLatin1String("preferences.plist"), Qt::CaseInsensitive) == 0)
            computerNameFromPreferences(entry.value(QStringLiteral("Data")).toByteArray(), &deviceName, &deviceID);
        if (kindForDevicePath(devicePath) != kind) continue;
        QByteArray bytes;
        databaseBytesForEntry(entry, entryPath, &bytes, nullptr);
        if (bytes.isEmpty()) continue;
        IPhoneDatabase reader(bytes);
        reader.setDBType(kind);
        if (const auto rows = reader.array()) records += *rows;
    }
    if (records.isEmpty()) return std::nullopt;
    QVariantMap result;
    result.insert(QStringLiteral("dbRecords"), records);
    result.insert(QStringLiteral("deviceName"), deviceName.isEmpty() ? defaultDeviceName() : deviceName);
    result.insert(QStringLiteral("deviceID"), deviceID.isEmpty() ? defaultDeviceName() : deviceID);
    return result;
}

QVariantList IPhoneDatabase::dbInfoForType(qint32 kind)
{
    QVariantList infos;
    for (const QString &folder : getDeviceDirectories()) {
        if (const auto info = dbInfoFromBackupDir(folder, kind)) infos.append(*info);
    }
    return infos;
}
