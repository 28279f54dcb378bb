// The phone's databases inside older iPhone backups: each kind read from a
// private immutable copy, both backup layouts, and the synchronisation client
// whose session takes back nothing but deletions.
// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Json.h"
#include "platform/Folders.h"
#include "platform/UserDefaults.h"
#include "pim/store/SyncStore.h"
#include "platform/VtrException.h"
#include "sources/iphone/IPhoneDatabase.h"
#include "sources/iphone/iPhoneBackupFolders.h"
#include "sources/iphone/iPhoneDB.h"
#include "sources/iphone/iPhoneStoreSync.h"
#include "support/BackupFixtures.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>

using vtr::iphone::SyncChange;

namespace {

QByteArray sqliteBytes(const QString &sql)
{
    const QString path = testenv::makeTempDir(QStringLiteral("db")) + QStringLiteral("/x.db");
    fixtures::makeSqlite(path, sql);
    return testenv::readFile(path);
}

std::optional<QVariantList> readRows(const QString &sql, qint32 kind)
{
    IPhoneDatabase reader(sqliteBytes(sql));
    reader.setDBType(kind);
    return reader.array();
}

QDateTime utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

const char *kNotesSql = "create table Note (title text, creation_date integer, summary text);"
                        "insert into Note (ROWID, title, creation_date) values (1, 'Groceries', 5);"
                        "insert into Note (ROWID, title, creation_date) values (2, 'Secret', 6);"
                        "create table note_bodies (note_id, data text, creation_date integer);"
                        "insert into note_bodies values (1, 'milk', 10);"
                        "insert into note_bodies values (99, 'orphan', 0);"
                        "insert into note_bodies values ('2 or 1=1', 'hostile', 0);";

} // namespace

TEST(IPhoneDatabase, EachKindReadsItsTable)
{
    const struct
    {
        qint32 kind;
        const char *sql;
        qsizetype rows;
    } cases[] = {
        {IPhoneDatabase::kMessages, "create table messages (text text); insert into messages values ('hi');", 1},
        {IPhoneDatabase::kMessages, "create table message (text text); create table messages (x);"
                                    "insert into message values ('a'), ('b');", 2},
        {42, "create table message (text text); insert into message values ('any kind');", 1},
        {IPhoneDatabase::kCallHistory, "create table call (address text); insert into call values ('555');", 1},
        {IPhoneDatabase::kRecordings, "create table ZRECORDING (ZPATH text); insert into ZRECORDING values ('a');", 1},
        {IPhoneDatabase::kVoicemail, "create table voicemail (sender text); insert into voicemail values ('b');", 1},
        {IPhoneDatabase::kCoreDataNotes, "create table ZNOTE (ZTITLE text); insert into ZNOTE values ('c');", 1},
        {IPhoneDatabase::kCallHistory, "create table message (text text);", -1},
        {IPhoneDatabase::kMessages, "create table other (text text);", -1},
        {IPhoneDatabase::kMessages, "create table message (text text);", 0},
    };
    for (const auto &c : cases) {
        const std::optional<QVariantList> rows = readRows(QString::fromUtf8(c.sql), c.kind);
        if (c.rows < 0) {
            EXPECT_FALSE(rows.has_value()) << c.sql;
        } else {
            ASSERT_TRUE(rows.has_value()) << c.sql;
            EXPECT_EQ(rows->size(), c.rows) << c.sql;
        }
    }
}

TEST(IPhoneDatabase, ValuesKeepTheirTypes)
{
    const std::optional<QVariantList> rows =
        readRows(QStringLiteral("create table message (date, Date2, big integer, ratio real, body text, raw blob,"
                                " missing, bad text);"
                                "insert into message values (0, 7, 1099511627776, 0.5, 'héllo', X'00ff', NULL,"
                                " CAST(X'ff' AS TEXT));"
                                "insert into message values (12.5, 0, 0, 0, '', X'', NULL, NULL);"),
                 IPhoneDatabase::kMessages);
    ASSERT_TRUE(rows && rows->size() == 2);
    const QVariantMap first = rows->at(0).toMap();
    EXPECT_EQ(first.value(QStringLiteral("date")).toDateTime(), utc(0)) << "1 January 1970 00:00 UTC";
    EXPECT_EQ(first.value(QStringLiteral("Date2")).toLongLong(), 7) << "only a column named date is a date";
    EXPECT_EQ(first.value(QStringLiteral("big")).toLongLong(), 1099511627776LL) << "64-bit integers";
    EXPECT_DOUBLE_EQ(first.value(QStringLiteral("ratio")).toDouble(), 0.5);
    EXPECT_EQ(first.value(QStringLiteral("body")).toString(), QString::fromUtf8("héllo"));
    EXPECT_EQ(first.value(QStringLiteral("raw")).toByteArray(), QByteArray("\x00\xff", 2));
    EXPECT_TRUE(vtr::isJsonNull(first.value(QStringLiteral("missing"))));
    EXPECT_FALSE(first.contains(QStringLiteral("bad"))) << "text that is not UTF-8 is left out";
    const QVariantMap second = rows->at(1).toMap();
    EXPECT_EQ(second.value(QStringLiteral("date")).typeId(), QMetaType::Double) << "a FLOAT date stays a number";
}

TEST(IPhoneDatabase, NotesGainTheirNoteRowsThroughBoundValues)
{
    const std::optional<QVariantList> rows = readRows(QString::fromUtf8(kNotesSql), IPhoneDatabase::kNotes);
    ASSERT_TRUE(rows && rows->size() == 3);
    const QVariantMap merged = rows->at(0).toMap();
    EXPECT_EQ(merged.value(QStringLiteral("title")).toString(), QStringLiteral("Groceries"));
    EXPECT_EQ(merged.value(QStringLiteral("data")).toString(), QStringLiteral("milk"));
    EXPECT_EQ(merged.value(QStringLiteral("creation_date")).toLongLong(), 5) << "the Note row's value replaces";
    const QVariantMap orphan = rows->at(1).toMap();
    EXPECT_EQ(orphan.keys(), (QStringList{QStringLiteral("creation_date"), QStringLiteral("data"),
                                          QStringLiteral("note_id")}));
    EXPECT_EQ(orphan.value(QStringLiteral("creation_date")).toDateTime(), utc(978307200)) << "from 2001";
    EXPECT_FALSE(rows->at(2).toMap().contains(QStringLiteral("title"))) << "a note_id is a value, never SQL";
}

TEST(IPhoneDatabase, PrivateCopiesLiveAndDieWithTheReader)
{
    const QString temporary = platform::temporaryFolder();
    {
        IPhoneDatabase empty{QByteArray()};
        EXPECT_FALSE(empty.array().has_value());
        EXPECT_TRUE(QDir(temporary).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty())
            << "no bytes: the temporary folder is not touched";
    }
    QString path;
    {
        const QByteArray bytes = sqliteBytes(QStringLiteral("create table call (a); insert into call values (1);"));
        IPhoneDatabase first(bytes);
        IPhoneDatabase second(bytes);
        first.setDBType(IPhoneDatabase::kCallHistory);
        second.setDBType(IPhoneDatabase::kCallHistory);
        ASSERT_TRUE(first.array() && second.array());
        path = first.pathToTempFile();
        EXPECT_TRUE(path.startsWith(temporary + QLatin1Char('/')));
        EXPECT_TRUE(path.endsWith(QStringLiteral("/com.vantrel.iphone.dump.temp.1")));
        EXPECT_NE(path, second.pathToTempFile()) << "readers of one kind never share a copy";
        EXPECT_TRUE(QFile::exists(path));
        IPhoneDatabase damaged(QByteArray("SQLite format 3\0garbage", 23));
        EXPECT_FALSE(damaged.array().has_value());
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QDir().exists(QFileInfo(path).path()));
}

// ---- iPhoneDB -------------------------------------------------------------------------------

namespace {

class OlderBackupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = testenv::makeTempDir(QStringLiteral("root"));
        platform::UserDefaults::setValue(QString::fromLatin1(vtr::iphone::kBackupFoldersDefaultsKey),
                                         QStringList{m_root});
    }
    void TearDown() override
    {
        platform::UserDefaults::remove(QString::fromLatin1(vtr::iphone::kBackupFoldersDefaultsKey));
    }

    QString writeInfo(const QString &name, const QString &version, const QDateTime &last = {})
    {
        const QString folder = m_root + QLatin1Char('/') + name;
        QVariantMap info;
        info.insert(QStringLiteral("Display Name"), QStringLiteral("Old Phone"));
        info.insert(QStringLiteral("Target Identifier"), name);
        info.insert(QStringLiteral("Product Version"), version);
        if (last.isValid()) info.insert(QStringLiteral("Last Backup Date"), last);
        testenv::writeFile(folder + QStringLiteral("/Info.plist"), fixtures::plistData(info, false));
        return folder;
    }

    static void writeEntry(const QString &path, const QVariantMap &entry, bool binary = true)
    {
        testenv::writeFile(path, fixtures::plistData(entry, binary));
    }

    static QVariantMap entry(const QString &devicePath, const QString &domain, const QByteArray &data = {})
    {
        QVariantMap e;
        e.insert(QStringLiteral("Path"), devicePath);
        e.insert(QStringLiteral("Domain"), domain);
        if (!data.isEmpty()) e.insert(QStringLiteral("Data"), data);
        return e;
    }

    // An older backup of messages, notes and the phone's own name.
    QString makeOlderBackup(const QString &name)
    {
        const QString folder = writeInfo(name, QStringLiteral("3.1.3"));
        const QByteArray sms = sqliteBytes(QStringLiteral("create table message (text); insert into message values ('hi');"));
        writeEntry(folder + QStringLiteral("/a1.mdbackup"), entry(QStringLiteral("Library/SMS/sms.db"),
                                                                  QStringLiteral("HomeDomain"), sms));
        writeEntry(folder + QStringLiteral("/a2.mdbackup"), entry(QStringLiteral("Library/SMS/VOICE/sms.db"),
                                                                  QStringLiteral("HomeDomain"), sms));
        writeEntry(folder + QStringLiteral("/a3.mdbackup"),
                   entry(QStringLiteral("Recordings/sms.db"), QStringLiteral("MediaDomain"), sms));
        QVariantMap system;
        system.insert(QStringLiteral("ComputerName"), QStringLiteral("Jo's iPhone-2\n"));
        QVariantMap outer;
        outer.insert(QStringLiteral("System"), QVariantMap{{QStringLiteral("System"), system}});
        writeEntry(folder + QStringLiteral("/a4.mdbackup"),
                   entry(QStringLiteral("Library/Preferences/SystemConfiguration/preferences.plist"),
                         QStringLiteral("HomeDomain"), fixtures::plistData(outer, true)));
        QVariantMap info;
        info.insert(QStringLiteral("Metadata"),
                    fixtures::plistData(entry(QStringLiteral("Library/Notes/notes.db"), QStringLiteral("HomeDomain")),
                                        true));
        writeEntry(folder + QStringLiteral("/sub/b1.mdinfo"), info, false);
        fixtures::makeSqlite(folder + QStringLiteral("/sub/b1.mddata"), QString::fromUtf8(kNotesSql));
        return folder;
    }

    QString m_root;
};

class FakeSession : public vtr::iphone::SyncSession
{
public:
    QStringList *log = nullptr;
    bool failPull = false;
    bool prepareToPullChangesForEntityNames(const QStringList &names) override
    {
        log->append(QStringLiteral("pull ") + names.join(QLatin1Char(',')));
        if (failPull) throw VtrException(QStringLiteral("SyncException"), QStringLiteral("store went away"));
        return true;
    }
    QList<SyncChange> changesForEntityName(const QString &) override
    {
        return {{SyncChange::Type::Delete, QStringLiteral("r1"), {}},
                {SyncChange::Type::Modify, QStringLiteral("r2"), {}},
                {SyncChange::Type::Add, QStringLiteral("r3"), {}}};
    }
    void clientAcceptedChangesForRecordWithIdentifier(const QString &id, const QString &newId) override
    {
        log->append(QStringLiteral("accept %1 as %2").arg(id, newId));
    }
    void clientRefusedChangesForRecordWithIdentifier(const QString &id) override
    {
        log->append(QStringLiteral("refuse ") + id);
    }
    void clientCommittedAcceptedChanges() override { log->append(QStringLiteral("commit")); }
    void finishSyncing() override { log->append(QStringLiteral("finish")); }
};

class FakeClient : public vtr::iphone::SyncClient
{
public:
    explicit FakeClient(QString id) : m_id(std::move(id)) {}
    QString clientIdentifier() const override { return m_id; }
    QString m_id;
};

class FakeManager : public vtr::iphone::SyncManager
{
public:
    QStringList log;
    bool enabled = true;
    bool giveSession = true;
    bool failPull = false;
    bool isEnabled() override { return enabled; }
    bool registerSchemaWithBundlePath(const QString &path) override
    {
        log.append(QStringLiteral("schema ") + QFileInfo(path).fileName());
        return true;
    }
    vtr::iphone::SyncClientPtr clientWithIdentifier(const QString &) override { return nullptr; }
    vtr::iphone::SyncClientPtr registerClientWithIdentifier(const QString &id, const QString &) override
    {
        log.append(QStringLiteral("register ") + id);
        return std::make_shared<FakeClient>(id);
    }
    void unregisterClient(const vtr::iphone::SyncClientPtr &client) override
    {
        log.append(QStringLiteral("unregister ") + client->clientIdentifier());
    }
    std::unique_ptr<vtr::iphone::SyncSession> beginSession(const vtr::iphone::SyncClientPtr &, const QStringList &,
                                                           double timeout) override
    {
        log.append(QStringLiteral("begin %1").arg(timeout));
        if (!giveSession) return nullptr;
        auto session = std::make_unique<FakeSession>();
        session->log = &log;
        session->failPull = failPull;
        return session;
    }
};

class MessagesScanner : public iPhoneDB
{
public:
    explicit MessagesScanner(const QString &resources) : iPhoneDB(nullptr)
    {
        _typeIdentifier = QStringLiteral("com.vantrel.messages");
        _clientDescription = QStringLiteral("MessagesClient");
        _schemaName = QStringLiteral("Messages");
        _entityNameString = QStringLiteral("com.vantrel.message");
        setResourceFolder(resources);
    }
    bool processDeviceRecord(const QVariantMap &) override
    {
        ++processed;
        return true;
    }
    void doSyncWithBackupFolder(const VtrFileInfoPtr &folder) override
    {
        synced.append(folder->name());
        if (folder->name() == QLatin1String("broken")) throw VtrException(QStringLiteral("X"), QStringLiteral("y"));
    }
    int processed = 0;
    QStringList synced;
};

} // namespace

TEST_F(OlderBackupTest, NewerLayoutListsRecordsUnderDomainAndPath)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("ios-backup/yielding-code-5_Manifest.mbdb"));
    const QString folder = testenv::makeTempDir(QStringLiteral("newer"));
    const QList<fixtures::MbdbEntry> records = {
        {"HomeDomain", "Library/SMS/sms.db", {}, false, 0x81A4, 1, {}},
        {"MediaDomain", "Media/a.jpg", {}, false, 0x81A4, 1, {}},
        {"HomeDomain", "Library/SMS/sms.db", {}, false, 0x81A4, 2, {}},
        {"MediaDomain", "Media/b.jpg", {}, false, 0x81A4, 1, {}},
    };
    QByteArray manifest = fixtures::mbdbFile(records);
    testenv::writeFile(folder + QStringLiteral("/Manifest.mbdb"), manifest.left(manifest.size() - 3));
    QString error;
    const auto files = iPhoneDB::filesInfoForBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder), &error);
    ASSERT_TRUE(files.has_value());
    EXPECT_FALSE(error.isEmpty()) << "the cut last record is reported";
    ASSERT_EQ(files->size(), 2) << "the repeated record replaces the first, the cut one is not listed";
    const QVariantMap sms = files->value(QStringLiteral("HomeDomain-Library/SMS/sms.db")).toMap();
    EXPECT_EQ(sms.value(QStringLiteral("backup filepath")).toString(),
              folder + QLatin1Char('/') + fixtures::sha1sum("HomeDomain-Library/SMS/sms.db"));
    EXPECT_EQ(sms.value(QStringLiteral("backup filename")).toString(), QStringLiteral("Library/SMS/sms.db"));
    EXPECT_EQ(sms.value(QStringLiteral("domain")).toString(), QStringLiteral("HomeDomain"));
    EXPECT_EQ(sms.value(QStringLiteral("device filepath")).toString(), QStringLiteral("HomeDomain-Library/SMS/sms.db"));

    testenv::writeFile(folder + QStringLiteral("/Manifest.mbdb"), "mbd");
    EXPECT_FALSE(iPhoneDB::filesInfoForBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder)).has_value());
    QFile::remove(folder + QStringLiteral("/Manifest.mbdb"));
    EXPECT_FALSE(iPhoneDB::filesInfoForBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder)).has_value());

    // The real manifest, linked in place.
    ASSERT_TRUE(QFile::link(QStringLiteral(VTR_SHARED_DATA_DIR "/samples/ios-backup/yielding-code-5_Manifest.mbdb"),
                            folder + QStringLiteral("/Manifest.mbdb")));
    error.clear();
    const auto real = iPhoneDB::filesInfoForBackupFolder(VtrMacFileInfo::fileInfoWithPath(folder), &error);
    ASSERT_TRUE(real.has_value());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_GT(real->size(), 4600);
    EXPECT_TRUE(real->contains(QStringLiteral("AppDomain-net.daum.maps-Documents")));
}

TEST_F(OlderBackupTest, OlderLayoutFileLists)
{
    QString name;
    QString id;
    const QString modern = writeInfo(QStringLiteral("modern"), QStringLiteral("4.3"));
    testenv::writeFile(modern + QStringLiteral("/x.mdinfo"), "x");
    EXPECT_FALSE(iPhoneDB::filesInBackupWithPath(modern, &name, &id).has_value());
    EXPECT_EQ(name, QStringLiteral("Old Phone"));
    EXPECT_EQ(id, QStringLiteral("modern"));
    const QString ten = writeInfo(QStringLiteral("ten"), QStringLiteral("10.3.1"));
    testenv::writeFile(ten + QStringLiteral("/x.mdinfo"), "x");
    EXPECT_FALSE(iPhoneDB::filesInBackupWithPath(ten, &name, &id).has_value()) << "10.3.1 reads as 10.3";

    // "Manifest.plist" names the files; only home and media files count, and
    // only names that stay inside the folder.
    const QString listed = writeInfo(QStringLiteral("listed"), QStringLiteral("3.0"));
    QVariantMap filesMap;
    const auto domain = [](const char *d) { return QVariantMap{{QStringLiteral("Domain"), QString::fromLatin1(d)}}; };
    filesMap.insert(QStringLiteral("k1"), domain("HomeDomain"));
    filesMap.insert(QStringLiteral("k2"), domain("MediaDomain"));
    filesMap.insert(QStringLiteral("k3"), domain("AppDomain"));
    filesMap.insert(QStringLiteral("k4"), domain("HomeDomain"));
    filesMap.insert(QStringLiteral("../outside"), domain("HomeDomain"));
    QVariantMap data{{QStringLiteral("Files"), filesMap}};
    writeEntry(listed + QStringLiteral("/Manifest.plist"),
               QVariantMap{{QStringLiteral("Data"), fixtures::plistData(data, true)}});
    for (const char *file : {"k1.mdinfo", "k1.mdbackup", "k2.mdbackup", "k3.mdinfo"})
        testenv::writeFile(listed + QLatin1Char('/') + QLatin1String(file), "x");
    testenv::writeFile(m_root + QStringLiteral("/outside.mdinfo"), "x");
    const auto files = iPhoneDB::filesInBackupWithPath(listed, &name, &id);
    ASSERT_TRUE(files.has_value());
    EXPECT_EQ(*files, (QStringList{listed + QStringLiteral("/k1.mdinfo"), listed + QStringLiteral("/k2.mdbackup")}));

    // Without a manifest: every such file at any depth.
    const QString loose = makeOlderBackup(QStringLiteral("loose"));
    const auto all = iPhoneDB::filesInBackupWithPath(loose, &name, &id);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 5);
}

TEST_F(OlderBackupTest, RowsOfAKindAndTheDevicesThatHoldThem)
{
    const QString folder = makeOlderBackup(QStringLiteral("dev1"));
    iPhoneDB scanner(nullptr);
    const QVariantList messages = scanner.getDBFromBackup(folder, IPhoneDatabase::kMessages);
    ASSERT_EQ(messages.size(), 1) << "voice paths and recordings are skipped";
    EXPECT_EQ(messages[0].toMap().value(QStringLiteral("text")).toString(), QStringLiteral("hi"));
    EXPECT_EQ(scanner.currentDeviceName(), QStringLiteral("Jo's iPhone-2\n"));
    EXPECT_EQ(scanner.currentDeviceIdentifier(), QStringLiteral("Jo'siPhone2"));
    const QVariantList notes = scanner.getDBFromBackup(folder, IPhoneDatabase::kNotes);
    ASSERT_EQ(notes.size(), 3) << "notes read from the .mddata beside the .mdinfo";

    const iPhoneDB::BackupFile info =
        iPhoneDB::deviceInfoWithFilepath(folder + QStringLiteral("/Info.plist"), IPhoneDatabase::kMessages, true, true);
    EXPECT_EQ(info.deviceName, QStringLiteral("Old Phone"));
    EXPECT_TRUE(info.sqlData.isEmpty());

    const QDateTime older(QDate(2010, 1, 1), QTime(0, 0), QTimeZone::utc());
    QFile data(folder + QStringLiteral("/sub/b1.mddata"));
    ASSERT_TRUE(data.open(QIODevice::ReadWrite) && data.setFileTime(older, QFileDevice::FileModificationTime));
    const auto devices = iPhoneDB::infoForDBOfType(IPhoneDatabase::kNotes);
    ASSERT_TRUE(devices.has_value());
    const QVariantMap device = devices->value(QStringLiteral("Old Phone")).toMap();
    EXPECT_EQ(device.value(QStringLiteral("deviceID")).toString(), QStringLiteral("dev1"));
    EXPECT_EQ(device.value(QStringLiteral("newestBackupDate")).toDateTime(), older);
    EXPECT_EQ(iPhoneDB::newestInfoForDBOfType(IPhoneDatabase::kNotes)->value(QStringLiteral("deviceID")),
              QStringLiteral("dev1"));

    const auto scanned = IPhoneDatabase::dbInfoFromBackupDir(folder, IPhoneDatabase::kMessages);
    ASSERT_TRUE(scanned.has_value());
    EXPECT_EQ(scanned->value(QStringLiteral("dbRecords")).toList().size(), 3)
        << "the plain folder scan keeps voice paths and recordings";
    EXPECT_EQ(IPhoneDatabase::dbInfoForType(IPhoneDatabase::kCallHistory).size(), 0);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer freed memory waits in a quarantine before it is used
// again, so the resident size grows with all that was allocated, by an amount
// that depends on what the tests before left there: the allocator's own hooks
// count the bytes in use instead.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void *);

namespace heap {
std::atomic<bool> counting{false};
std::atomic<long long> inUse{0}, peak{0};
void allocated(const volatile void *, size_t size)
{
    if (!counting) return;
    const long long now = inUse += qint64(size);
    for (long long top = peak; now > top && !peak.compare_exchange_weak(top, now);) {}
}
void freed(const volatile void *p)
{
    if (counting) inUse -= qint64(__sanitizer_get_allocated_size(p));
}
}  // namespace heap

// The peak in KiB of the heap in use since the last reset.
long peakKiBSinceReset() { return long(heap::peak / 1024); }

bool resetPeak()
{
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks(heap::allocated, heap::freed) != 0;
    heap::counting = false;
    heap::inUse = 0;
    heap::peak = 0;
    heap::counting = hooked;
    return hooked;
}
#else
// The peak resident size in KiB since the last reset.
long peakKiBSinceReset()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

bool resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}
#endif

// Large databases and media beside the property lists are told apart by
// their first bytes; none of them is read whole to learn that.
TEST_F(OlderBackupTest, AFolderScanReadsOnlyTheStartOfWhatIsNoPropertyList)
{
    const QString folder = makeOlderBackup(QStringLiteral("dev3"));
    constexpr qint64 kBig = qint64(48) << 20;
    for (const char *name : {"/c1.mddata", "/movie.mov"}) {
        QFile big(folder + QLatin1String(name));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write("SQLite format 3", 16);
        ASSERT_TRUE(big.resize(kBig));
    }
    // A list that begins with a byte-order mark and white space is still one.
    const QString info = folder + QStringLiteral("/Info.plist");
    testenv::writeFile(info, "\n  " + testenv::readFile(info));
    if (!resetPeak()) GTEST_SKIP() << "the peak resident size cannot be reset here";
    const long before = peakKiBSinceReset();
    const auto scanned = IPhoneDatabase::dbInfoFromBackupDir(folder, IPhoneDatabase::kMessages);
    const long grown = peakKiBSinceReset() - before;
    ASSERT_TRUE(scanned.has_value());
    EXPECT_EQ(scanned->value(QStringLiteral("dbRecords")).toList().size(), 3);
    EXPECT_EQ(scanned->value(QStringLiteral("deviceID")).toString(), QStringLiteral("dev3")) << scanned->value("deviceName").toString().toStdString();
    EXPECT_LT(grown, 16 * 1024) << "KiB";
}

// An older manifest names every file of the phone with several fields each:
// its list is taken without building a tree of every value, at a few times
// the file's size (a whole tree costs twenty).
TEST_F(OlderBackupTest, ALargeOlderManifestIsListedAtAFewTimesItsSize)
{
    const QString folder = writeInfo(QStringLiteral("big"), QStringLiteral("3.1.3"));
    QVariantMap files;
    for (int i = 0; i < 40000; ++i) {
        QVariantMap entry{{QStringLiteral("Domain"), i % 2 ? QStringLiteral("HomeDomain") : QStringLiteral("AppDomain-x")},
                          {QStringLiteral("FileLength"), 1000 + i},
                          {QStringLiteral("Mode"), 33188},
                          {QStringLiteral("ModificationTime"), QDateTime::fromSecsSinceEpoch(1200000000 + i, QTimeZone::utc())}};
        files.insert(QString::number(i * 7919).rightJustified(40, QLatin1Char('f')), entry);
    }
    const QString listed = QString::number(7 * 7919).rightJustified(40, QLatin1Char('f'));
    testenv::writeFile(folder + QLatin1Char('/') + listed + QStringLiteral(".mdbackup"), "x");
    const QByteArray inner = fixtures::plistData(QVariantMap{{QStringLiteral("Files"), files}}, true);
    files.clear();
    const QByteArray manifest = fixtures::plistData(QVariantMap{{QStringLiteral("Data"), inner}}, false);
    testenv::writeFile(folder + QStringLiteral("/Manifest.plist"), manifest);

    QString name;
    QString id;
    const auto found = iPhoneDB::filesInBackupWithPath(folder, &name, &id);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, QStringList{folder + QLatin1Char('/') + listed + QStringLiteral(".mdbackup")});

    if (!resetPeak()) GTEST_SKIP() << "the peak resident size cannot be reset here";
    const long before = peakKiBSinceReset();
    const qsizetype count = iPhoneDB::filesListedInManifest(manifest).value_or(QStringList()).size();
    const long grown = peakKiBSinceReset() - before;
    EXPECT_EQ(count, 20000) << "the home files";
    EXPECT_LT(grown, 3 * manifest.size() / 1024) << "KiB for a manifest of " << manifest.size() / 1024 << " KiB";
}

TEST_F(OlderBackupTest, FoldersDatesAndSyncByDate)
{
    writeInfo(QStringLiteral("old"), QStringLiteral("3.0"), QDateTime(QDate(2010, 1, 1), QTime(0, 0), QTimeZone::utc()));
    writeInfo(QStringLiteral("new"), QStringLiteral("3.0"), QDateTime(QDate(2011, 1, 1), QTime(0, 0), QTimeZone::utc()));
    writeInfo(QStringLiteral("new-20110101"), QStringLiteral("3.0"));
    QDir().mkpath(m_root + QStringLiteral("/LOGS"));
    QDir().mkpath(m_root + QStringLiteral("/broken"));
    EXPECT_EQ(iPhoneDB::getDeviceDirectories(),
              (QStringList{m_root + QStringLiteral("/broken"), m_root + QStringLiteral("/new"),
                           m_root + QStringLiteral("/old")}));
    const auto newest = iPhoneDB::newestInfo();
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->value(QStringLiteral("oldestBackupDate")).toDateTime().date().year(), 2010);
    EXPECT_EQ(newest->value(QStringLiteral("newestBackupDate")).toDateTime().date().year(), 2011);

    MessagesScanner scanner(m_root);
    scanner.syncIfNewerThanDate(QDateTime(QDate(2010, 6, 1), QTime(0, 0), QTimeZone::utc()));
    EXPECT_EQ(scanner.synced, (QStringList{QStringLiteral("broken"), QStringLiteral("new")}))
        << "a folder without a date is not older than the date";
    scanner.synced.clear();
    scanner.syncIfNewerThanDate(QDateTime());
    EXPECT_EQ(scanner.synced, (QStringList{QStringLiteral("broken"), QStringLiteral("new"), QStringLiteral("old")}))
        << "an exception in one folder does not stop the others";
}

TEST_F(OlderBackupTest, SessionAcceptsOnlyDeletions)
{
    const QString resources = testenv::makeTempDir(QStringLiteral("res"));
    const QVariantList rows{QVariantMap{{QStringLiteral("text"), QStringLiteral("a")}},
                            QVariantMap{{QStringLiteral("text"), QStringLiteral("b")}}};
    {
        MessagesScanner scanner(resources);
        EXPECT_TRUE(scanner.syncRecords({})) << "nothing to hand over";
        EXPECT_FALSE(scanner.syncRecords(rows)) << "no client description";
    }
    testenv::writeFile(resources + QStringLiteral("/MessagesClient.plist"), "<plist/>");
    {
        MessagesScanner scanner(resources);
        EXPECT_FALSE(scanner.syncRecords(rows)) << "a description the store cannot read";
    }
    auto manager = std::make_shared<FakeManager>();
    MessagesScanner scanner(resources);
    scanner.setSyncManager(manager);
    ASSERT_TRUE(scanner.syncRecords(rows));
    EXPECT_EQ(scanner.processed, 2);
    EXPECT_EQ(manager->log, (QStringList{QStringLiteral("schema Messages.syncschema"),
                                         QStringLiteral("register com.vantrel.messages_"), QStringLiteral("begin 300"),
                                         QStringLiteral("pull com.vantrel.message"),
                                         QStringLiteral("accept r1 as r1_deleted"), QStringLiteral("refuse r2"),
                                         QStringLiteral("refuse r3"), QStringLiteral("commit"),
                                         QStringLiteral("finish")}));

    manager->log.clear();
    manager->failPull = true;
    EXPECT_FALSE(scanner.syncRecords(rows)) << "a store failure is a failed hand-over";
    manager->failPull = false;
    manager->giveSession = false;
    manager->log.clear();
    EXPECT_FALSE(scanner.syncRecords(rows));
    ASSERT_FALSE(manager->log.isEmpty());
    EXPECT_TRUE(manager->log.last().startsWith(QStringLiteral("unregister"))) << "no session: the client goes";
    manager->enabled = false;
    EXPECT_FALSE(scanner.syncRecords(rows));

    const QString longID = QString(70, QLatin1Char('x')).replace(0, 7, QStringLiteral("0123456"));
    scanner.registerClient(longID, QString(), QString(), QString());
    EXPECT_EQ(scanner.clientID(), longID.right(63));
}

TEST_F(OlderBackupTest, TheClientStandsOnTheApplicationsStore)
{
    const QVariantList rows{QVariantMap{{QStringLiteral("text"), QStringLiteral("a")}},
                            QVariantMap{{QStringLiteral("text"), QStringLiteral("b")}}};
    const QString message = QStringLiteral("com.vantrel.message");
    const QString id = QStringLiteral("com.vantrel.messages_");
    std::shared_ptr<syncstore::SyncManager> store;
    struct Restore { ~Restore() { syncstore::SyncManager::setSharedManager(nullptr); } } restore;

    // The scanner's description is a property list; a JSON one is handed over as it is.
    const QString plistResources = testenv::makeTempDir(QStringLiteral("res"));
    testenv::writeFile(plistResources + QStringLiteral("/MessagesClient.plist"),
                       fixtures::plistData(QVariantMap{{QStringLiteral("DisplayName"), QStringLiteral("Messages")},
                                                       {QStringLiteral("Entities"),
                                                        QVariantMap{{message, QVariantList{QStringLiteral("text")}}}}},
                                           false));
    const QString jsonResources = testenv::makeTempDir(QStringLiteral("res"));
    testenv::writeFile(jsonResources + QStringLiteral("/MessagesClient.plist"),
                       R"({"DisplayName": "Messages", "Entities": ["com.vantrel.message"]})");
    for (const QString &resources : {plistResources, jsonResources}) {
        store = std::make_shared<syncstore::SyncManager>(std::vector<std::unique_ptr<syncstore::SyncSource>>());
        syncstore::SyncManager::setSharedManager(store);
        MessagesScanner scanner(resources); // no store given: the application's
        ASSERT_TRUE(scanner.syncRecords(rows)) << resources.toStdString();
        EXPECT_EQ(scanner.processed, 2);
        const std::shared_ptr<syncstore::SyncClient> client = store->clientWithIdentifier(id);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(client->entityNames(), QStringList{message});
        EXPECT_EQ(client->displayName(), QStringLiteral("Messages"));
    }

    // A session is held to the entities of the client's description; a store
    // that is off opens none.
    MessagesScanner scanner(plistResources);
    scanner.setEntityNames({QStringLiteral("com.vantrel.call")});
    EXPECT_FALSE(scanner.syncRecords(rows));
    store->setEnabled(false);
    EXPECT_FALSE(scanner.syncRecords(rows));
    store->setEnabled(true);

    const std::shared_ptr<vtr::iphone::SyncManager> manager = vtr::iphone::storeSyncManager(store);
    const vtr::iphone::SyncClientPtr client = manager->clientWithIdentifier(id);
    ASSERT_NE(client, nullptr);
    std::unique_ptr<vtr::iphone::SyncSession> session = manager->beginSession(client, {message}, 300);
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->prepareToPullChangesForEntityNames({message}));
    EXPECT_FALSE(session->prepareToPullChangesForEntityNames({QStringLiteral("com.vantrel.call")}));
    EXPECT_TRUE(session->changesForEntityName(message).isEmpty()) << "the store is read-only";
    session->finishSyncing();
    EXPECT_FALSE(session->prepareToPullChangesForEntityNames({message})) << "a finished session";
    manager->unregisterClient(client);
    EXPECT_EQ(manager->clientWithIdentifier(id), nullptr);
    EXPECT_NE(manager->registerClientWithIdentifier(id, jsonResources + QStringLiteral("/MessagesClient.plist")), nullptr);
    EXPECT_NE(manager->clientWithIdentifier(id), nullptr) << "registered again";
}
