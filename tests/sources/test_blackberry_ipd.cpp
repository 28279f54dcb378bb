// BlackBerry IPD database files: the real sample, generated files of several
// databases, field edge cases and every kind of damage.
#include "sources/blackberry/BlackBerryIPD.h"
#include "TestEnvironment.h"
#include "support/BackupFixtures.h"

#include <gtest/gtest.h>

using fixtures::IpdRecord;

namespace {

QVariantList recordsOf(const QVariantMap &ipd, qsizetype database)
{
    return ipd.value(QStringLiteral("Databases")).toList().value(database).toMap().value(QStringLiteral("Records")).toList();
}

qsizetype recordCount(const QVariantMap &ipd)
{
    qsizetype count = 0;
    for (const QVariant &database : ipd.value(QStringLiteral("Databases")).toList())
        count += database.toMap().value(QStringLiteral("Records")).toList().size();
    return count;
}

QVariantList fieldsOf(const QVariant &record)
{
    return record.toMap().value(QStringLiteral("Fields")).toList();
}

const QStringList kNames = {QStringLiteral("Address Book"), QStringLiteral("SMS Messages"),
                            QString::fromUtf8("Mémos")};

QList<IpdRecord> sampleRecords()
{
    return {
        {0, 1, 0x0102, 0xFFFFFFFE, {fixtures::ipdText("Jo"), fixtures::ipdText("Bloggs")}},
        {2, 1, 7, 42, {fixtures::ipdText("caf\xe9")}},
        {0, 1, 3, 9, {}},
        {1, 5, 4, 10, {QByteArray("qwerty111"), QByteArray(1, '\0'), QByteArray()}},
    };
}

} // namespace

TEST(BlackBerryIPD, ReadsTheRealSample)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("blackberry-ipd/ipddump-Sample.ipd"));
    QString error;
    const auto ipd = vtr::ipd::dictionaryWithBBIPDAtPath(
        QStringLiteral(VTR_SHARED_DATA_DIR "/samples/blackberry-ipd/ipddump-Sample.ipd"), &error);
    ASSERT_TRUE(ipd.has_value());
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(ipd->value(QStringLiteral("Name")).toString(), QStringLiteral("Inter@ctive Pager Backup/Restore File"));
    EXPECT_EQ(ipd->value(QStringLiteral("Database Names")).toStringList(), QStringList{QStringLiteral("SMS Messages")});
    const QVariantList records = recordsOf(*ipd, 0);
    ASSERT_EQ(records.size(), 3);
    QStringList texts;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QVariantMap record = records[i].toMap();
        EXPECT_EQ(record.value(QStringLiteral("Version")).toUInt(), 5u);
        EXPECT_EQ(record.value(QStringLiteral("Handle")).toUInt(), uint(i + 1));
        const QVariantList fields = fieldsOf(record);
        EXPECT_EQ(fields.size(), 6);
        for (const QVariant &field : fields) {
            if (field.typeId() == QMetaType::QString) texts.append(field.toString());
        }
    }
    // SMS bodies are stored without a terminating zero: no character is lost.
    EXPECT_TRUE(texts.contains(QStringLiteral("qwerty111")));
    EXPECT_TRUE(texts.contains(QStringLiteral("asdfgh222")));
}

TEST(BlackBerryIPD, ReadsSeveralDatabasesInBothByteOrders)
{
    const QByteArray file = fixtures::ipdFile(kNames, sampleRecords());
    QString error;
    const auto ipd = vtr::ipd::dictionaryWithBBIPDData(file, &error);
    ASSERT_TRUE(ipd.has_value());
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(ipd->value(QStringLiteral("Database Names")).toStringList(), kNames) << "count big-endian, names code page 1252";
    ASSERT_EQ(recordsOf(*ipd, 0).size(), 2);
    const QVariantMap first = recordsOf(*ipd, 0)[0].toMap();
    EXPECT_EQ(first.value(QStringLiteral("Handle")).toUInt(), 0x0102u) << "little-endian";
    EXPECT_EQ(first.value(QStringLiteral("UUID")).toInt(), -2) << "signed 32-bit";
    EXPECT_EQ(fieldsOf(first), (QVariantList{QStringLiteral("Jo"), QStringLiteral("Bloggs")}));
    EXPECT_TRUE(fieldsOf(recordsOf(*ipd, 0)[1]).isEmpty()) << "a record of exactly 7 bytes has no fields";
    ASSERT_EQ(recordsOf(*ipd, 2).size(), 1);
    EXPECT_EQ(fieldsOf(recordsOf(*ipd, 2)[0]), QVariantList{QString::fromUtf8("café")});

    ASSERT_EQ(recordsOf(*ipd, 1).size(), 1);
    const QVariantList edge = fieldsOf(recordsOf(*ipd, 1)[0]);
    ASSERT_EQ(edge.size(), 3);
    EXPECT_EQ(edge[0], QVariant(QStringLiteral("qwerty111")));
    EXPECT_EQ(edge[1], QVariant(QString(QLatin1String("")))) << "a lone zero is an empty text";
    EXPECT_EQ(edge[2].typeId(), QMetaType::QByteArray) << "length 0 is an empty byte block";
    EXPECT_TRUE(edge[2].toByteArray().isEmpty());
}

TEST(BlackBerryIPD, FieldsAndNamesThatAreNotText)
{
    QList<IpdRecord> records = {{0, 1, 1, 1, {QByteArray("a\x81z\0", 4), fixtures::ipdText("\x80 5")}}};
    records.append({0xFFFF, 0, 0, 0, {}});
    records.append({0, 1, 2, 2, {fixtures::ipdText("after the end")}});
    const auto ipd = vtr::ipd::dictionaryWithBBIPDData(
        fixtures::ipdFile({QStringLiteral("Dup"), QStringLiteral("Dup")}, records));
    ASSERT_TRUE(ipd.has_value());
    const QVariantList fields = fieldsOf(recordsOf(*ipd, 0).value(0));
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(fields[0], QVariant(QByteArray("a\x81z\0", 4))) << "undecodable: every byte kept";
    EXPECT_EQ(fields[1], QVariant(QString::fromUtf8("€ 5")));
    EXPECT_EQ(recordCount(*ipd), 1) << "index 0xFFFF ends the records";
    EXPECT_EQ(ipd->value(QStringLiteral("Databases")).toList().size(), 2) << "equal names give two databases";
    EXPECT_EQ(vtr::ipd::databaseNamed(*ipd, QStringLiteral("Dup")).value(QStringLiteral("Records")).toList().size(), 1);
    EXPECT_TRUE(vtr::ipd::databaseNamed(*ipd, QStringLiteral("Nope")).isEmpty());

    EXPECT_FALSE(vtr::ipd::dictionaryWithBBIPDData(QByteArray()).has_value());
    EXPECT_FALSE(vtr::ipd::dictionaryWithBBIPDData("no line feed here").has_value());
    EXPECT_FALSE(vtr::ipd::dictionaryWithBBIPDAtPath(QStringLiteral("/nonexistent/x.ipd")).has_value());
}

// Cut at every byte: the records complete before the cut stay, damage is
// reported, nothing is read past the end (ASan).
TEST(BlackBerryIPD, EveryTruncationKeepsTheCompleteRecords)
{
    const QList<IpdRecord> records = sampleRecords();
    const QByteArray file = fixtures::ipdFile(kNames, records);
    QList<qsizetype> boundaries;
    for (qsizetype k = 0; k <= records.size(); ++k) boundaries.append(fixtures::ipdFile(kNames, records.mid(0, k)).size());
    const qsizetype header = file.indexOf('\n') + 1;
    for (qsizetype cut = header; cut <= file.size(); ++cut) {
        QString error;
        const auto ipd = vtr::ipd::dictionaryWithBBIPDData(file.left(cut), &error);
        ASSERT_TRUE(ipd.has_value()) << "cut at " << cut;
        const qsizetype complete = std::count_if(boundaries.begin() + 1, boundaries.end(),
                                                 [&](qsizetype end) { return end <= cut; });
        EXPECT_EQ(recordCount(*ipd), complete) << "cut at " << cut;
        EXPECT_EQ(error.isEmpty(), boundaries.contains(cut)) << "cut at " << cut;
    }
}

TEST(BlackBerryIPD, HostileLengthsAndIndexesEndTheReading)
{
    const struct
    {
        const char *what;
        QList<IpdRecord> records;
        qsizetype kept;
    } cases[] = {
        {"unknown database", {{0, 1, 1, 1, {}}, {3, 1, 2, 2, {}}, {0, 1, 3, 3, {}}}, 1},
        {"huge database index", {{0xFFFE, 1, 2, 2, {}}}, 0},
    };
    for (const auto &c : cases) {
        QString error;
        const auto ipd = vtr::ipd::dictionaryWithBBIPDData(fixtures::ipdFile(kNames, c.records), &error);
        ASSERT_TRUE(ipd.has_value()) << c.what;
        EXPECT_EQ(recordCount(*ipd), c.kept) << c.what;
        EXPECT_FALSE(error.isEmpty()) << c.what;
    }

    // Hand-made damage: a record shorter than its fixed part, a field running
    // past its record (the record keeps the fields before it), a name list
    // longer than the file.
    QByteArray shortRecord = fixtures::ipdFile(kNames, {});
    shortRecord += QByteArray("\x00\x00\x03\x00\x00\x00\x01\x02\x03", 9);
    QString error;
    EXPECT_EQ(recordCount(*vtr::ipd::dictionaryWithBBIPDData(shortRecord, &error)), 0);
    EXPECT_FALSE(error.isEmpty());

    QByteArray fieldPast = fixtures::ipdFile(kNames, {{0, 1, 1, 1, {fixtures::ipdText("ok")}}});
    fieldPast[fieldPast.size() - 13 - 4] = char(14); // the record holds one byte more than its fields
    fieldPast.append('\x05');
    fieldPast += fixtures::ipdFile(kNames, {{1, 1, 2, 2, {fixtures::ipdText("next")}}}).mid(
        fixtures::ipdFile(kNames, {}).size());
    error.clear();
    const auto kept = vtr::ipd::dictionaryWithBBIPDData(fieldPast, &error);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(fieldsOf(recordsOf(*kept, 0).value(0)), QVariantList{QStringLiteral("ok")});
    EXPECT_EQ(fieldsOf(recordsOf(*kept, 1).value(0)), QVariantList{QStringLiteral("next")});

    QByteArray names("Header\n\x02\xFF\xFF\x00\x04\x00" "abc\x00", 17);
    error.clear();
    const auto partial = vtr::ipd::dictionaryWithBBIPDData(names, &error);
    EXPECT_EQ(partial->value(QStringLiteral("Database Names")).toStringList(), QStringList{QStringLiteral("abc")});
    EXPECT_FALSE(error.isEmpty());
}
