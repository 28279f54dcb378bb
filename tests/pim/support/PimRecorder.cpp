#include "PimRecorder.h"

#include "TestEnvironment.h"
#include "foundation/Json.h"
#include "pim/store/JsonFixtureSource.h"
#include "pim/store/VdirSource.h"

#include <gtest/gtest.h>

namespace pimtest {

QByteArray dataFile(const QString &name)
{
    const QByteArray data = testenv::readFile(QStringLiteral(VTR_TEST_SOURCE_DIR "/pim/data/") + name);
    EXPECT_FALSE(data.isEmpty()) << name.toStdString();
    return data;
}

std::shared_ptr<syncstore::SyncManager> fixtureStore(const QString &name)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::JsonFixtureSource>(vtr::JSONValueFromUtf8(dataFile(name)).toMap(), name));
    return std::make_shared<syncstore::SyncManager>(std::move(sources));
}

std::shared_ptr<syncstore::SyncManager> vdirStore(const QStringList &folders)
{
    std::vector<std::unique_ptr<syncstore::SyncSource>> sources;
    sources.push_back(std::make_unique<syncstore::VdirSource>(folders));
    return std::make_shared<syncstore::SyncManager>(std::move(sources));
}

std::unique_ptr<syncstore::SyncRecordSnapshot> snapshotOf(const QStringList &folders, const QString &entityName)
{
    return vdirStore(folders)->snapshotOfRecordsInTruth({entityName});
}

syncstore::SyncRecordList ofEntity(const syncstore::SyncRecordSnapshot &s, const QString &entityName)
{
    return s.recordsWithMatchingAttributes({{syncstore::kRecordEntityNameKey, entityName}});
}

QString canonicalJson(const QVariant &value)
{
    QorJsonWriter writer;
    writer.setSortKeys(true);
    return writer.stringWithObject(value);
}

}  // namespace pimtest
