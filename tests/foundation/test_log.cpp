#include "TestEnvironment.h"
#include "foundation/Log.h"
#include "platform/UserDefaults.h"

#include <QStringList>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace {

class RecordingHandler : public LogHandlerBase
{
public:
    void setWarningAndErrorFlag(bool f) override { flag = flag || f; }
    void logWithDataFromDictionary(const QVariantMap &r) override { records.push_back(r); }
    bool flag = false;
    std::vector<QVariantMap> records;
};

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platform::UserDefaults::setStoreFileForTesting(testenv::makeTempDir("log") + "/d.ini");
        LogResetToBuiltInFlags();
        LogTerminate();
        LogSetSystemLogSink([this](const QString &m) { systemLog << m; });
    }
    void TearDown() override
    {
        LogTerminate();
        LogSetSystemLogSink({});
        LogResetToBuiltInFlags();
        platform::UserDefaults::setStoreFileForTesting(QString());
    }
    std::shared_ptr<RecordingHandler> install()
    {
        auto h = std::make_shared<RecordingHandler>();
        EXPECT_TRUE(LogInstallHandler(h));
        return h;
    }
    QStringList systemLog;
};

TEST_F(LogTest, WithoutHandlerOnlyTheMessageReachesTheSystemLog)
{
    LogWrite(2, "mod", "/a/b/file.cpp", "fn", 12, QVariantMap{{"x", 1}}, QVariant(), QStringLiteral("broken %1").arg(3));
    LogSeparator();
    EXPECT_EQ(systemLog, QStringList({"broken 3", "(null)"}));
}

TEST_F(LogTest, OutOfRangeAndDisabledCategoriesWriteNothing)
{
    auto h = install();
    LogWrite(12, "", "f", "fn", 1, {}, {}, "x");
    LogWrite(-1, "", "f", "fn", 1, {}, {}, "x");
    LogWrite(7, "", "f", "fn", 1, QByteArray("ab"), {}, "x");
    VTR_LOG(4, QStringLiteral("config"));
    EXPECT_TRUE(h->records.empty());
    EXPECT_TRUE(systemLog.isEmpty());
}

TEST_F(LogTest, RecordCarriesOnlyTheKeysThatApply)
{
    auto h = install();
    LogWrite(0, "", "/x/y/source.mm", "-[A b]", 0, QVariant(), QVariant(), "hello");
    LogWrite(0, "core", "", "", 7, QVariantMap{{"k", "v"}}, QStringLiteral("second"), "m");
    ASSERT_EQ(h->records.size(), 2u);
    const QVariantMap &a = h->records[0];
    EXPECT_EQ(a.value("type").toInt(), 0);
    EXPECT_EQ(a.value("message").toString(), "hello");
    EXPECT_EQ(a.value("sourceFile").toString(), "source.mm");
    EXPECT_EQ(a.value("function").toString(), "-[A b]");
    EXPECT_FALSE(a.contains("sourceLine"));
    EXPECT_FALSE(a.contains("module"));
    EXPECT_EQ(a.value("date").toString().size(), 15);
    const QVariantMap &b = h->records[1];
    EXPECT_EQ(b.value("sourceLine").toInt(), 7);
    EXPECT_EQ(b.value("module").toString(), "core");
    EXPECT_EQ(b.value("message2").toString(), "second");
    EXPECT_TRUE(b.value("extra").toString().contains("\"k\""));
    EXPECT_FALSE(b.contains("sourceFile"));
    EXPECT_FALSE(h->flag);
}

TEST_F(LogTest, BytesAreKeptOnlyWithPacketsOn)
{
    auto h = install();
    LogWrite(0, "", "f", "fn", 1, QByteArray("\x01\x02", 2), {}, "a");
    LogSetPacketsEnabled(true);
    LogWrite(0, "", "f", "fn", 1, QByteArray("\x01\x02", 2), {}, "b");
    ASSERT_EQ(h->records.size(), 2u);
    EXPECT_FALSE(h->records[0].contains("data"));
    EXPECT_FALSE(h->records[0].contains("extra"));
    EXPECT_EQ(h->records[1].value("data").toByteArray(), QByteArray("\x01\x02", 2));
}

TEST_F(LogTest, WarningsAndErrorsRaiseTheHandlerFlag)
{
    auto h = install();
    LogWrite(0, "", "", "", 0, {}, {}, "n");
    EXPECT_FALSE(h->flag);
    LogWrite(1, "", "", "", 0, {}, {}, "w");
    EXPECT_TRUE(h->flag);
}

TEST_F(LogTest, FlagSettersPersistAndDefaultsDropDateStamps)
{
    LogSetCategoryEnabled(7, true);
    EXPECT_TRUE(LogIsCategoryEnabled(7u));
    EXPECT_TRUE(platform::UserDefaults::value("Logging7").toBool());
    LogSetCategoryEnabled(40, true);
    EXPECT_FALSE(LogIsCategoryEnabled(40u));

    LogEnableAll();
    EXPECT_TRUE(LogAllEnabled());
    LogSetDefaultCategories();
    EXPECT_FALSE(LogAllEnabled());
    EXPECT_FALSE(LogAreDateStampsEnabled());
    EXPECT_FALSE(LogArePacketsEnabled());
    for (unsigned c = 0; c < 12; ++c) EXPECT_EQ(LogIsCategoryEnabled(c), c <= 3 || c == 11) << c;

    auto h = install();
    LogWrite(0, "", "", "", 0, {}, {}, "n");
    ASSERT_EQ(h->records.size(), 1u);
    EXPECT_FALSE(h->records.at(0).contains("date"));
}

TEST_F(LogTest, StoredChoicesWinOverBuiltInFlags)
{
    platform::UserDefaults::setValue("Logging0", false);
    platform::UserDefaults::setValue("LogPackets", true);
    LogRegisterAndReadDefaults();
    EXPECT_FALSE(LogIsCategoryEnabled(0u));
    EXPECT_TRUE(LogIsCategoryEnabled(1u));
    EXPECT_TRUE(LogArePacketsEnabled());
}

TEST_F(LogTest, ConcurrentWritersAndFlagChangesAreSafe)
{
    auto h = std::make_shared<RecordingHandler>();
    std::atomic<int> seen{0};
    struct Counting : LogHandlerBase {
        std::atomic<int> *n;
        void setWarningAndErrorFlag(bool) override {}
        void logWithDataFromDictionary(const QVariantMap &) override { ++*n; }
    };
    auto counting = std::make_shared<Counting>();
    counting->n = &seen;
    ASSERT_TRUE(LogInstallHandler(counting));
    std::vector<QThread *> threads;
    for (int t = 0; t < 4; ++t)
        threads.push_back(QThread::create([] {
            for (int i = 0; i < 500; ++i) LogWrite(0, "", "f", "fn", i + 1, {}, {}, "x");
        }));
    threads.push_back(QThread::create([] {
        for (int i = 0; i < 500; ++i) LogSetDateStampsEnabled(i % 2);
    }));
    for (auto *t : threads) t->start();
    for (auto *t : threads) {
        t->wait();
        delete t;
    }
    EXPECT_EQ(seen.load(), 2000);
}

}  // namespace
