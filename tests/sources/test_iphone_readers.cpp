// Byte-level readers of iPhone backups: the checked cursor, "Manifest.mbdb"
// records and property lists, on generated files and on real samples.
// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "sources/iphone/BinaryPropertyList.h"
#include "sources/iphone/ByteCursor.h"
#include "sources/iphone/MbdbReader.h"
#include "sources/iphone/PropertyList.h"
#include "support/BackupFixtures.h"

#include "TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using fixtures::MbdbEntry;

namespace {

const QString kSamples = QStringLiteral(VTR_SHARED_DATA_DIR "/samples/ios-backup");

QList<MbdbEntry> sampleEntries()
{
    MbdbEntry withProperties{"HomeDomain", "Library/SMS/sms.db", {}, false, 0x81A4, 4096, {}};
    withProperties.properties = {{"com.apple.backup.protectionClass", QByteArray("\x00\x03", 2)},
                                 {"xattr", QByteArray()}};
    return {
        withProperties,
        MbdbEntry{"MediaDomain", "Media/DCIM/100APPLE", "../target", false, 0xA1ED, 0, {}},
        MbdbEntry{"CameraRollDomain", "", {}, false, 0x41ED, 0, {}},
        MbdbEntry{"AppDomain-com.example", "", {}, true, 0x41ED, 0, {}},
        MbdbEntry{"MediaDomain", QString::fromUtf8("Media/동영상 1.MOV").toUtf8(), {}, false, 0x81A4, 1, {}},
    };
}

// A binary list of arrays by hand: object i holds the references of
// arrays[i]; one more object, an integer, ends every chain.
QByteArray arraysPlist(const QList<QList<quint32>> &arrays)
{
    QByteArray out("bplist00");
    QList<quint32> offsets;
    for (const QList<quint32> &refs : arrays) {
        offsets.append(quint32(out.size()));
        out.append(char(0xA0 | refs.size()));
        for (quint32 ref : refs) out += QByteArray::fromHex(QByteArray::number(ref, 16).rightJustified(8, '0'));
    }
    offsets.append(quint32(out.size()));
    out += QByteArray("\x10\x01", 2);
    const quint32 table = quint32(out.size());
    for (quint32 offset : offsets) out += QByteArray::fromHex(QByteArray::number(offset, 16).rightJustified(8, '0'));
    out += QByteArray(6, '\0') + QByteArray("\x04\x04", 2);
    out += QByteArray::fromHex(QByteArray::number(qulonglong(offsets.size()), 16).rightJustified(16, '0'));
    out += QByteArray(8, '\0');
    out += QByteArray::fromHex(QByteArray::number(table, 16).rightJustified(16, '0'));
    return out;
}

// A binary list of the given objects (raw bytes, references one byte wide),
// object 0 on top.
QByteArray objectsPlist(const QList<QByteArray> &objects)
{
    QByteArray out("bplist00");
    QByteArray table;
    for (const QByteArray &object : objects) {
        table.append(char(out.size()));
        out += object;
    }
    const int tableAt = int(out.size());
    out += table + QByteArray(6, '\0') + QByteArray("\x01\x01", 2);
    out += QByteArray::fromHex(QByteArray::number(qulonglong(objects.size()), 16).rightJustified(16, '0'));
    out += QByteArray(8, '\0');
    out += QByteArray::fromHex(QByteArray::number(tableAt, 16).rightJustified(16, '0'));
    return out;
}

QList<QList<quint32>> chain(int length, int fanOut)
{
    QList<QList<quint32>> arrays;
    for (int i = 0; i < length; ++i) arrays.append(QList<quint32>(fanOut, quint32(i + 1)));
    return arrays;
}

} // namespace

TEST(ByteCursor, ReadsBigAndLittleEndianAndRefusesWhatDoesNotFit)
{
    const QByteArray bytes("\x00\x00\x00\x01\x00\x00\x00\x02\xAB", 9);
    vtr::ByteCursor cursor(bytes);
    quint64 wide = 0;
    ASSERT_TRUE(cursor.readBE(&wide));
    EXPECT_EQ(wide, 4294967298ULL);
    EXPECT_EQ(cursor.position(), 8);
    quint16 narrow = 0;
    EXPECT_FALSE(cursor.readLE(&narrow));
    EXPECT_TRUE(cursor.failed());
    EXPECT_EQ(cursor.position(), 8);
    EXPECT_FALSE(cursor.skip(1)) << "a failed cursor reads nothing more";

    vtr::ByteCursor little(bytes, 4);
    quint32 value = 0;
    ASSERT_TRUE(little.readLE(&value));
    EXPECT_EQ(value, 0x02000000u);
    EXPECT_TRUE(vtr::ByteCursor(bytes, 10).failed()) << "a start past the end";
}

TEST(MbdbReader, ReadsEveryKindOfRecord)
{
    const QList<MbdbEntry> entries = sampleEntries();
    const vtr::mbdb::Manifest manifest = vtr::mbdb::read(fixtures::mbdbFile(entries));
    EXPECT_TRUE(manifest.error.isEmpty()) << manifest.error.toStdString();
    ASSERT_EQ(manifest.records.size(), entries.size());
    ASSERT_EQ(manifest.records[0].properties.size(), 2);
    EXPECT_EQ(manifest.records[0].properties[0].second, QByteArray("\x00\x03", 2));
    EXPECT_EQ(manifest.records[0].size, 4096u);
    EXPECT_EQ(manifest.records[1].linkTarget, QByteArray("../target"));
    EXPECT_EQ(manifest.records[1].mode, 0xA1ED);
    EXPECT_TRUE(manifest.records[2].path.isEmpty());
    EXPECT_TRUE(manifest.records[3].path.isEmpty()) << "0xFFFF reads as an absent string";
    EXPECT_EQ(manifest.records[3].domainString(), QStringLiteral("AppDomain-com.example"));
    EXPECT_EQ(manifest.records[4].pathString(), QString::fromUtf8("Media/동영상 1.MOV"));
}

// Every cut of the file: the complete records before the cut, an error unless
// the cut falls between records, and never a read past the end (ASan).
TEST(MbdbReader, EveryTruncationKeepsTheCompleteRecords)
{
    const QList<MbdbEntry> entries = sampleEntries();
    const QByteArray file = fixtures::mbdbFile(entries);
    QList<qsizetype> ends;
    for (quint32 offset : fixtures::mbdbOffsets(entries)) ends.append(vtr::mbdb::kHeaderSize + offset);
    ends.append(file.size());
    for (qsizetype cut = 6; cut <= file.size(); ++cut) {
        const vtr::mbdb::Manifest manifest = vtr::mbdb::read(file.left(cut));
        const qsizetype complete = std::count_if(ends.begin() + 1, ends.end(), [&](qsizetype end) { return end <= cut; });
        EXPECT_EQ(manifest.records.size(), complete) << "cut at " << cut;
        EXPECT_EQ(manifest.error.isEmpty(), ends.contains(cut)) << "cut at " << cut;
    }
    EXPECT_FALSE(vtr::mbdb::read("mbd").error.isEmpty());
    EXPECT_FALSE(vtr::mbdb::read("mbdb\x05").error.isEmpty()) << "short header";
    EXPECT_FALSE(vtr::mbdb::read(QByteArray(100, 'x')).error.isEmpty());
}

TEST(MbdbReader, BackupFileNameIsTheSha1OfDomainDashPath)
{
    const struct
    {
        QByteArray domain;
        QByteArray path;
    } cases[] = {
        {"HomeDomain", "Library/SMS/sms.db"},
        {"MediaDomain", QString::fromUtf8("Media/PhotoData/Videos/동영상 1.MISC").toUtf8()},
        {"CameraRollDomain", ""},
        {"AppDomain-net.daum.maps", "Documents"},
    };
    for (const auto &c : cases) {
        const QString expected = fixtures::sha1sum(c.domain + "-" + c.path);
        EXPECT_EQ(vtr::mbdb::backupFileName(c.domain, c.path), expected) << c.path.toStdString();
    }
    // Digest bytes are written two lower-case digits each ("9a", never "9A" or "-66").
    const QString name = vtr::mbdb::backupFileName("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
    EXPECT_EQ(name.size(), 40);
    EXPECT_EQ(name, name.toLower());
}

TEST(MbdbReader, ReadsTheRealIOS41Manifest)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("ios-backup/yielding-code-5_Manifest.mbdb"));
    const QByteArray data = testenv::readFile(kSamples + QStringLiteral("/yielding-code-5_Manifest.mbdb"));
    ASSERT_FALSE(data.isEmpty());
    const vtr::mbdb::Manifest manifest = vtr::mbdb::read(data);
    EXPECT_TRUE(manifest.error.isEmpty()) << manifest.error.toStdString();
    EXPECT_EQ(manifest.records.size(), 4715);
    qsizetype emptyPaths = 0;
    qsizetype links = 0;
    const vtr::mbdb::Record *korean = nullptr;
    for (const vtr::mbdb::Record &record : manifest.records) {
        emptyPaths += record.path.isEmpty();
        links += !record.linkTarget.isEmpty();
        // Stored decomposed (conjoining jamo), as the phone's file system keeps names.
        if (record.pathString().normalized(QString::NormalizationForm_C)
            == QString::fromUtf8("Media/PhotoData/Videos/2008/04/13/동영상 1.MISC"))
            korean = &record;
    }
    EXPECT_EQ(emptyPaths, 50);
    EXPECT_EQ(links, 80);
    ASSERT_NE(korean, nullptr);
    EXPECT_EQ(korean->backupFileName(), fixtures::sha1sum(korean->domain + "-" + korean->path))
        << "the name is the digest of the stored bytes, not of a re-composed text";
}

TEST(PropertyList, XmlAndBinaryReadTheSameValues)
{
    const QDateTime date(QDate(2011, 3, 4), QTime(5, 6, 7), QTimeZone::utc());
    QVariantMap nested;
    nested.insert(QStringLiteral("LibraryApplications"), QVariantList{QStringLiteral("com.a.b"), QStringLiteral("x")});
    QVariantMap root;
    root.insert(QStringLiteral("Display Name"), QString::fromUtf8("Zoë's iPhone"));
    root.insert(QStringLiteral("Big"), qint64(1) << 40);
    root.insert(QStringLiteral("Negative"), qint64(-5));
    root.insert(QStringLiteral("Ratio"), 0.25);
    root.insert(QStringLiteral("Flag"), true);
    root.insert(QStringLiteral("Date"), date);
    root.insert(QStringLiteral("Blob"), QByteArray("\x00\x01\xff", 3));
    root.insert(QStringLiteral("iTunes Settings"), nested);
    for (bool binary : {false, true}) {
        QString error;
        const QVariant value = vtr::plist::fromData(fixtures::plistData(root, binary), &error);
        ASSERT_TRUE(value.isValid()) << error.toStdString();
        const QVariantMap map = value.toMap();
        EXPECT_EQ(map.value(QStringLiteral("Display Name")).toString(), QString::fromUtf8("Zoë's iPhone"));
        EXPECT_EQ(map.value(QStringLiteral("Big")).toLongLong(), qint64(1) << 40);
        EXPECT_EQ(map.value(QStringLiteral("Negative")).toLongLong(), -5);
        EXPECT_DOUBLE_EQ(map.value(QStringLiteral("Ratio")).toDouble(), 0.25);
        EXPECT_TRUE(map.value(QStringLiteral("Flag")).toBool());
        EXPECT_EQ(map.value(QStringLiteral("Date")).toDateTime(), date) << "binary " << binary;
        EXPECT_EQ(map.value(QStringLiteral("Blob")).toByteArray(), QByteArray("\x00\x01\xff", 3));
        EXPECT_EQ(map.value(QStringLiteral("iTunes Settings")).toMap(), nested);
    }
}

TEST(PropertyList, DamagedInputIsAnErrorNeverAValue)
{
    QVariantMap root;
    root.insert(QStringLiteral("key"), QStringLiteral("value"));
    const QByteArray binary = fixtures::plistData(root, true);
    const QByteArray xml = fixtures::plistData(root, false);
    const QByteArray deep = QByteArray("<plist><array>").repeated(1) + QByteArray("<array>").repeated(2000)
                            + QByteArray("</array>").repeated(2001) + "</plist>";
    // A key holding a NUL is text like any other.
    QByteArray nulKey = fixtures::plistData(QVariantMap{{QStringLiteral("ab"), QStringLiteral("v")}}, true);
    nulKey.replace(QByteArray("\x52" "ab"), QByteArray("\x52" "a\0", 3));
    ASSERT_TRUE(nulKey.contains(QByteArray("\x52" "a\0", 3)));
    const QByteArray cases[] = {QByteArray(),
                                binary.left(binary.size() - 5),
                                binary.left(8),
                                xml.left(xml.size() / 2),
                                "bplist00garbage",
                                "not a plist",
                                deep};
    for (const QByteArray &data : cases) {
        QString error;
        EXPECT_FALSE(vtr::plist::fromData(data, &error).isValid()) << data.left(40).toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(vtr::plist::dictionaryFromData(nulKey).firstKey(), QString(QStringLiteral("a") + QChar(0)));
    EXPECT_FALSE(vtr::plist::fromBinaryData(xml).isValid()) << "the binary path takes binary lists only";
    EXPECT_TRUE(vtr::plist::dictionaryFromData(fixtures::plistData(QVariantList{1, 2}, true)).isEmpty());
}

// The kinds of object no other test writes, each the top of its own list, and
// the damage a hand-made list can hold.
TEST(PropertyList, EveryKindOfBinaryObject)
{
    const auto x = [](const char *hex) { return QByteArray::fromHex(hex); };
    const struct
    {
        const char *what;
        QList<QByteArray> objects;
        QVariant expected; // invalid: refused
    } cases[] = {
        {"set", {x("c20102"), x("1001"), x("1002")}, QVariantList{1, 2}},
        {"UID", {x("8105dc")}, qint64(0x05dc)},
        {"four-byte real", {x("223fc00000")}, 1.5},
        {"sixteen-byte integer", {x("14") + QByteArray(8, '\0') + x("fffffffffffffffe")}, qint64(-2)},
        {"long ASCII", {x("5f1012") + QByteArray(18, 'a')}, QString(18, QLatin1Char('a'))},
        {"UTF-16", {x("6200e90041")}, QStringLiteral("\u00e9A")},
        {"data", {x("42ff00")}, QByteArray("\xff\x00", 2)},
        {"dictionary", {x("d10102"), x("516b"), x("09")}, QVariantMap{{QStringLiteral("k"), true}}},
        {"null", {x("00")}, QVariant()},
        {"integer key", {x("d10102"), x("1001"), x("09")}, QVariant()},
        {"count past the objects", {x("5f10ff") + "abc"}, QVariant()},
        {"reference past the objects", {x("a107")}, QVariant()},
        {"real of three bytes", {x("2a000000")}, QVariant()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QString error;
        const QVariant value = vtr::plist::fromBinaryData(objectsPlist(c.objects), &error);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(error.isEmpty(), c.expected.isValid()) << error.toStdString();
    }
}

// One value of a large list is reached without converting the rest.
TEST(PropertyList, BinaryValuesAreReachedInPlace)
{
    QVariantMap inner{{QStringLiteral("Domain"), QString::fromUtf8("Médïa")}, {QStringLiteral("Size"), 7}};
    const QVariantMap root{{QStringLiteral("Files"), QVariantMap{{QStringLiteral("f1"), inner}}},
                           {QStringLiteral("Blob"), QByteArray("\x01\x02", 2)}};
    const auto list = vtr::plist::BinaryPropertyList::open(fixtures::plistData(root, true));
    ASSERT_TRUE(list.has_value());
    const auto files = list->valueForKey(list->top(), u"Files");
    ASSERT_TRUE(files && list->isDictionary(*files));
    QStringList seen;
    EXPECT_TRUE(list->forEachEntry(*files, [&](auto key, auto value) {
        seen.append(list->string(key) + QLatin1Char('=') + list->string(*list->valueForKey(value, u"Domain")));
        return true;
    }));
    EXPECT_EQ(seen, QStringList{QString::fromUtf8("f1=Médïa")});
    EXPECT_EQ(list->data(*list->valueForKey(list->top(), u"Blob")), QByteArray("\x01\x02", 2));
    EXPECT_FALSE(list->valueForKey(*files, u"f2"));
    EXPECT_FALSE(list->forEachEntry(*list->valueForKey(list->top(), u"Blob"), [](auto, auto) { return true; }));
    EXPECT_TRUE(list->string(list->top()).isNull()) << "a dictionary is no string";
    EXPECT_FALSE(vtr::plist::BinaryPropertyList::open("bplist00").has_value());
}

// What would exhaust the stack or the memory (deep nesting, a cycle, a tree
// grown without bound from shared objects) is refused before any value is
// made.
TEST(PropertyList, HostileBinaryStructureIsRefused)
{
    EXPECT_TRUE(vtr::plist::fromBinaryData(arraysPlist(chain(100, 1))).isValid()) << "sound nesting reads";
    EXPECT_TRUE(vtr::plist::fromBinaryData(arraysPlist(chain(10, 2))).isValid()) << "sound sharing reads";
    const struct
    {
        const char *what;
        QList<QList<quint32>> arrays;
    } cases[] = {
        {"deep", chain(100000, 1)},
        {"cycle", {{1}, {0}}},
        {"self", {{0}}},
        {"shared", chain(40, 2)},
    };
    for (const auto &c : cases) {
        QString error;
        EXPECT_FALSE(vtr::plist::fromBinaryData(arraysPlist(c.arrays), &error).isValid()) << c.what;
        EXPECT_FALSE(error.isEmpty()) << c.what;
    }
    const QByteArray deepXml = "<plist>" + QByteArray("<array>").repeated(1000000)
                               + QByteArray("</array>").repeated(1000000) + "</plist>";
    EXPECT_FALSE(vtr::plist::fromData(deepXml).isValid());
}

TEST(PropertyList, ReadsTheRealBinaryManifest)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("ios-backup/yielding-code-Manifest.plist"));
    const QVariantMap manifest =
        vtr::plist::dictionaryFromFile(kSamples + QStringLiteral("/yielding-code-Manifest.plist"));
    ASSERT_FALSE(manifest.isEmpty());
    const QVariantMap lockdown = manifest.value(QStringLiteral("Lockdown")).toMap();
    EXPECT_EQ(lockdown.value(QStringLiteral("ProductVersion")).toString(), QStringLiteral("4.1"));
    EXPECT_EQ(lockdown.value(QStringLiteral("ProductType")).toString(), QStringLiteral("iPhone2,1"));
    EXPECT_EQ(manifest.value(QStringLiteral("Applications")).toMap().size(), 66);
    EXPECT_FALSE(manifest.value(QStringLiteral("IsEncrypted")).toBool());
    EXPECT_FALSE(manifest.value(QStringLiteral("BackupKeyBag")).toByteArray().isEmpty());
    EXPECT_TRUE(manifest.value(QStringLiteral("Date")).toDateTime().isValid());
}

// Every input of the binary property-list fuzz target, the findings it once
// crashed on among them, reads to a value or is refused with a reason.
TEST(PropertyList, FuzzCorpusReadsOrIsRefused)
{
    const QDir corpus(QStringLiteral(VTR_TEST_SOURCE_DIR "/../fuzz/corpus/bplist"));
    const QStringList inputs = corpus.entryList(QDir::Files);
    ASSERT_TRUE(inputs.contains(QStringLiteral("regression-6a25627b")));
    for (const QString &name : inputs) {
        SCOPED_TRACE(name.toStdString());
        QString error;
        const QVariant value = vtr::plist::fromBinaryData(testenv::readFile(corpus.filePath(name)), &error);
        EXPECT_TRUE(value.isValid() || !error.isEmpty());
    }
}
