#include "TestEnvironment.h"
#include "foundation/LogFile.h"
#include "foundation/LogHandler.h"
#include "platform/Folders.h"
#include "platform/MainThread.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

QVariantMap record(int type, const QString &message, int line = 0)
{
    QVariantMap r;
    r.insert("type", type);
    r.insert("message", message);
    if (line > 0) r.insert("sourceLine", line);
    return r;
}

QByteArray packet(const QByteArray &payload)
{
    return QByteArray::number(payload.size()) + ' ' + payload + '\n';
}

QByteArray payloadOf(const QString &message)
{
    return LogFile::dictionaryToData(record(0, message));
}

class RecordingDelegate : public LogHandlerDelegate
{
public:
    void logItemAddedNotification(LogHandler *h) override { note("added", h); }
    void logTrimmedNotification(LogHandler *h) override { note("trimmed", h); }
    void note(const QString &what, LogHandler *h)
    {
        if (!platform::isMainThread()) offMain = true;
        lastHandler = h;
        events << what;
    }
    QStringList events;
    LogHandler *lastHandler = nullptr;
    bool offMain = false;
};

void deliverNotifications()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

class LogFileTest : public ::testing::Test
{
protected:
    void SetUp() override { dir = testenv::makeTempDir("logfile"); }
    QString path(const QString &name = "app Log") const { return dir + '/' + name; }
    QString dir;
};

TEST_F(LogFileTest, ItemIsLengthSpaceTextLineFeed)
{
    const QByteArray text(57, 'x');
    EXPECT_EQ(LogFile::wrapDataIntoFilePacket(text), QByteArray("57 ") + text + '\n');

    LogFile log(path());
    log.addItem(record(2, "broken"));
    log.addItem(record(0, "fine"));
    const QByteArray onDisk = testenv::readFile(path());
    EXPECT_EQ(onDisk, packet(LogFile::dictionaryToData(record(2, "broken"))) + packet(payloadOf("fine")));
    EXPECT_EQ(onDisk, log.buildFileImage());
    EXPECT_TRUE(onDisk.contains("message = broken;"));

    // Opening a clean file does not rewrite it.
    const auto before = QFileInfo(path()).lastModified();
    EXPECT_EQ(LogFile(path()).getItemCount(), 2u);
    EXPECT_EQ(testenv::readFile(path()), onDisk);
    EXPECT_EQ(QFileInfo(path()).lastModified(), before);
}

TEST_F(LogFileTest, RecordsSurviveTheFileWithNumbersTurnedIntoText)
{
    QVariantMap r = record(1, "say \"hi\"\\ to\nÖsterreich\t\x01 {x = y;}", 42);
    r.insert("data", QByteArray("\x00\xff\x10 abc", 8));
    r.insert("message2", QVariantMap{{"list", QVariantList{"a b", "", 7}}, {"n", QVariantMap{}}});
    r.insert("function", "-[PlatformDevice closeFile]");
    {
        LogFile log(path());
        log.addItem(r);
        const std::optional<QVariantMap> same = log.getItem(0);
        ASSERT_TRUE(same);
        EXPECT_EQ(same->value("type").typeId(), QMetaType::Int);
    }
    LogFile reread(path());
    ASSERT_EQ(reread.getItemCount(), 1u);
    const std::optional<QVariantMap> back = reread.getItem(0);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value("type"), QVariant("1"));
    EXPECT_EQ(back->value("sourceLine"), QVariant("42"));
    EXPECT_EQ(back->value("message").toString(), r.value("message").toString());
    EXPECT_EQ(back->value("data").toByteArray(), r.value("data").toByteArray());
    EXPECT_EQ(back->value("function").toString(), "-[PlatformDevice closeFile]");
    const QVariantMap m2 = back->value("message2").toMap();
    EXPECT_EQ(m2.value("list").toList(), (QVariantList{"a b", "", "7"}));
    EXPECT_TRUE(m2.value("n").toMap().isEmpty());
    EXPECT_FALSE(reread.getItem(1));
}

TEST_F(LogFileTest, PropertyListTextRejectsMalformedInput)
{
    EXPECT_FALSE(LogFile::dataToDictionary("(a, b)")); // not a dictionary
    EXPECT_FALSE(LogFile::dataToDictionary("{a = b"));
    EXPECT_FALSE(LogFile::dataToDictionary("{a = \"b}"));
    EXPECT_FALSE(LogFile::dataToDictionary("{a = <0g>;}"));
    EXPECT_FALSE(LogFile::dataToDictionary("{a = b;} junk"));
    EXPECT_FALSE(LogFile::dataToDictionary(QByteArray(100000, '(')));
    const auto ok = LogFile::dataToDictionary("/* c */ {a = \"\\U00e9\\101\"; // x\n b = (1,2,);}");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->value("a").toString(), QString::fromUtf8("éA"));
    EXPECT_EQ(ok->value("b").toList().size(), 2);

    // Items are parsed when asked: bad text gives no dictionary, the others read.
    testenv::writeFile(path(), packet("{a = 1;}") + packet("not a (plist") + packet("{b = 2;}"));
    LogFile log(path());
    ASSERT_EQ(log.getItemCount(), 3u);
    EXPECT_FALSE(log.getItem(1));
    EXPECT_EQ(log.getItem(2)->value("b").toString(), "2");
}

TEST_F(LogFileTest, LineEndingsAreRepairedOnlyWhenCrLfShowsUpEarly)
{
    QByteArray early = "ab\r\ncd\r\r\n";
    EXPECT_TRUE(LogFile::fixLineEndings(early));
    EXPECT_EQ(early, QByteArray("ab\ncd\r\n"));

    QByteArray late = QByteArray(20001, 'x') + "\r\n";
    const QByteArray lateCopy = late;
    EXPECT_FALSE(LogFile::fixLineEndings(late));
    EXPECT_EQ(late, lateCopy);

    QByteArray edge = QByteArray(20000, 'x') + "\r\n";
    EXPECT_TRUE(LogFile::fixLineEndings(edge));
    EXPECT_EQ(edge.size(), 20001);
}

TEST_F(LogFileTest, CrLfFileWrittenElsewhereReadsBackAndTakesNewRecords)
{
    const QByteArray a = payloadOf("first"), b = payloadOf("second");
    QByteArray crlf = packet(a) + packet(b);
    crlf.replace("\n", "\r\n");
    testenv::writeFile(path(), crlf);
    {
        LogFile log(path());
        ASSERT_EQ(log.getItemCount(), 2u);
        EXPECT_EQ(log.getItem(1)->value("message").toString(), "second");
        log.addItem(record(0, "third"));
    }
    LogFile again(path());
    ASSERT_EQ(again.getItemCount(), 3u);
    EXPECT_EQ(again.getItem(2)->value("message").toString(), "third");
}

// A reader that stopped at a damaged tail must find records appended later:
// the tail is cut off before anything is appended.
TEST_F(LogFileTest, DamagedTailIsCutSoLaterRecordsReadBack)
{
    const QByteArray a = payloadOf("one"), b = payloadOf("two");
    const struct
    {
        const char *name;
        QByteArray bytes;
        unsigned int items;
    } cases[] = {
        {"no final line feed", packet(a) + QByteArray::number(b.size()) + ' ' + b, 2},
        {"zero length", packet(a) + "0 " + b + '\n', 1},
        {"length past the end", packet(a) + "999 " + b + '\n', 1},
        {"ends inside digits", packet(a) + "12", 1},
        {"huge length", packet(a) + "99999999999999999999 x\n", 1},
        {"garbage tail", packet(a) + "\n\n??", 1},
        {"half written record", packet(a) + packet(b).left(20), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString p = path(QString::fromLatin1(c.name));
        testenv::writeFile(p, c.bytes);
        {
            LogFile log(p);
            ASSERT_EQ(log.getItemCount(), c.items);
            EXPECT_EQ(log.getItem(0)->value("message").toString(), "one");
            for (int i = 0; i < 3; ++i)
                log.addItem(record(0, QStringLiteral("new %1").arg(i)));
        }
        LogFile reread(p);
        ASSERT_EQ(reread.getItemCount(), c.items + 3);
        EXPECT_EQ(reread.getItem(0)->value("message").toString(), "one");
        for (unsigned int i = 0; i < 3; ++i)
            EXPECT_EQ(reread.getItem(c.items + i)->value("message").toString(), QStringLiteral("new %1").arg(i));
    }
}

TEST_F(LogFileTest, FolderIsCreatedAndTildeExpanded)
{
    LogFile log("~/Logs/nested/x Log");
    EXPECT_TRUE(log.hasFile());
    log.addItem(record(0, "hi"));
    const QString expanded = platform::homeFolder() + "/Logs/nested/x Log";
    EXPECT_TRUE(testenv::readFile(expanded).contains("message = hi;"));
    EXPECT_EQ(QFileInfo(expanded).permissions() & (QFile::ExeOwner | QFile::ReadOther), 0);
}

TEST_F(LogFileTest, WithoutAFileItemsLiveInMemory)
{
    testenv::writeFile(dir + "/blocker", "a file where the folder should be");
    LogFile log(dir + "/blocker/sub/x Log");
    EXPECT_FALSE(log.hasFile());
    log.addItem(record(0, "kept"));
    log.addItem(record(0, "too"));
    EXPECT_EQ(log.getItemCount(), 2u);
    EXPECT_EQ(log.getItem(1)->value("message").toString(), "too");
    EXPECT_EQ(testenv::readFile(dir + "/blocker"), QByteArray("a file where the folder should be"));

    // A link of the person's at the log's name: neither it nor what it points to changes.
    testenv::writeFile(dir + "/notes.txt", "my notes");
    ASSERT_TRUE(QFile::link(dir + "/notes.txt", path()));
    LogFile linked(path());
    EXPECT_FALSE(linked.hasFile());
    linked.addItem(record(0, "kept"));
    EXPECT_EQ(testenv::readFile(dir + "/notes.txt"), QByteArray("my notes"));
    EXPECT_EQ(QFileInfo(path()).symLinkTarget(), dir + "/notes.txt");
    // A link in place of the log's folder: nothing is made where it points.
    ASSERT_TRUE(QDir().mkpath(dir + "/elsewhere"));
    ASSERT_TRUE(QFile::link(dir + "/elsewhere", dir + "/logs"));
    LogFile throughLink(dir + "/logs/x Log");
    EXPECT_FALSE(throughLink.hasFile());
    EXPECT_TRUE(QDir(dir + "/elsewhere").isEmpty());

    LogFile none{QString()};
    none.addItem(record(0, "x"));
    EXPECT_EQ(none.getItemCount(), 1u);
}

TEST_F(LogFileTest, TrimAndClearRewriteTheFile)
{
    LogFile log(path());
    for (int i = 0; i < 10; ++i)
        log.addItem(record(0, QStringLiteral("m%1").arg(i)));
    log.trimLines(3);
    ASSERT_EQ(log.getItemCount(), 3u);
    EXPECT_EQ(log.getItem(0)->value("message").toString(), "m7");
    EXPECT_EQ(testenv::readFile(path()), log.buildFileImage());
    log.clear();
    EXPECT_EQ(log.getItemCount(), 0u);
    EXPECT_TRUE(testenv::readFile(path()).isEmpty());
}

class LogHandlerTest : public LogFileTest
{
protected:
    void SetUp() override
    {
        LogFileTest::SetUp();
        platform::UserDefaults::setStoreFileForTesting(dir + "/defaults.ini");
        LogResetToBuiltInFlags();
        LogTerminate();
    }
    void TearDown() override
    {
        LogTerminate();
        deliverNotifications();
        LogResetToBuiltInFlags();
        platform::UserDefaults::setStoreFileForTesting(QString());
    }
};

TEST_F(LogHandlerTest, ThousandsOfRecordsAreTrimmedToTheNewest)
{
    RecordingDelegate delegate;
    {
        LogHandler handler(nullptr, path());
        for (unsigned int i = 0; i < LogHandler::kTrimThreshold; ++i)
            handler.logWithDataFromDictionary(record(0, QStringLiteral("r%1").arg(i)));
        EXPECT_EQ(handler.getItemCount(), LogHandler::kTrimThreshold);

        handler.setDelegate(&delegate);
        handler.logWithDataFromDictionary(record(0, "newest"));
        EXPECT_EQ(handler.getItemCount(), LogHandler::kTrimmedItemCount + 1);
        EXPECT_EQ(handler.getItem(0)->value("message").toString(),
                  QStringLiteral("r%1").arg(LogHandler::kTrimThreshold - LogHandler::kTrimmedItemCount));
        deliverNotifications();
        EXPECT_EQ(delegate.events, QStringList({"trimmed", "added"}));
        EXPECT_EQ(delegate.lastHandler, &handler);
        EXPECT_FALSE(delegate.offMain);
    }
    LogFile reread(path());
    ASSERT_EQ(reread.getItemCount(), LogHandler::kTrimmedItemCount + 1);
    EXPECT_EQ(reread.getItem(LogHandler::kTrimmedItemCount)->value("message").toString(), "newest");
    EXPECT_EQ(reread.getItem(LogHandler::kTrimmedItemCount - 1)->value("message").toString(),
              QStringLiteral("r%1").arg(LogHandler::kTrimThreshold - 1));
}

TEST_F(LogHandlerTest, ConcurrentWritersLoseNothing)
{
    LogInitialize(nullptr, path());
    ASSERT_TRUE(LogHandler::defaultHandler());
    constexpr int kThreads = 8, kEach = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                LogWrite(i % 3, "", __FILE__, "writer", __LINE__, QVariant(), QVariant(),
                         QStringLiteral("%1:%2").arg(t).arg(i));
        });
    }
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(LogHandler::defaultHandler()->getItemCount(), unsigned(kThreads * kEach));
    EXPECT_TRUE(LogHandler::defaultHandler()->getWarningAndErrorFlag());
    LogTerminate();

    LogFile reread(path());
    ASSERT_EQ(reread.getItemCount(), unsigned(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (unsigned int i = 0; i < reread.getItemCount(); ++i) {
        const std::optional<QVariantMap> r = reread.getItem(i);
        ASSERT_TRUE(r);
        const QStringList parts = r->value("message").toString().split(':');
        ASSERT_EQ(parts.size(), 2);
        const int t = parts[0].toInt();
        EXPECT_EQ(parts[1].toInt(), next[t]++); // each writer's records in its order
        EXPECT_EQ(r->value("sourceFile").toString(), "test_logfile.cpp");
    }
}

TEST_F(LogHandlerTest, InitializeKeepsTheFirstHandlerAndUsesTheStateFolder)
{
    LogSetCategoryEnabled(4, true); // a stored choice wins over the built-in value
    LogResetToBuiltInFlags();
    LogInitialize(nullptr, QString());
    std::shared_ptr<LogHandler> first = LogHandler::defaultHandler();
    ASSERT_TRUE(first);
    EXPECT_TRUE(LogIsCategoryEnabled(4u));
    LogInitialize(nullptr, path("other"));
    EXPECT_EQ(LogHandler::defaultHandler(), first);
    EXPECT_FALSE(QFileInfo::exists(path("other")));

    VTR_LOG(0, "to the state folder");
    const QString expected = LogHandler::defaultLogFilePath();
    EXPECT_TRUE(expected.startsWith(platform::stateFolder() + '/'));
    EXPECT_TRUE(expected.endsWith(" Log"));
    EXPECT_TRUE(testenv::readFile(expected).contains("to the state folder"));
}

TEST_F(LogHandlerTest, LockTimeOutDropsTheCallInsteadOfWaiting)
{
    LogHandler handler(nullptr, path());
    ASSERT_TRUE(handler.lockWithTimeout()); // the lock is recursive
    handler.logWithDataFromDictionary(record(0, "before"));
    handler.unlock();
    handler.setLockTimeout(50ms);
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        ASSERT_TRUE(handler.lockWithTimeout());
        held = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        handler.unlock();
    });
    while (!held)
        std::this_thread::sleep_for(1ms);
    handler.logWithDataFromDictionary(record(0, "dropped"));
    EXPECT_EQ(handler.getItemCount(), 0u);
    EXPECT_FALSE(handler.getItem(0));
    EXPECT_FALSE(handler.saveToFile(path("copy")));
    handler.clear();
    release = true;
    holder.join();
    EXPECT_EQ(handler.getItemCount(), 1u); // neither the dropped record nor the clear took effect
    EXPECT_TRUE(handler.saveToFile(path("copy")));
    EXPECT_EQ(testenv::readFile(path("copy")), testenv::readFile(path()));
}

TEST_F(LogHandlerTest, DestructionRefusesNewCallsAndWaitsForCallsInside)
{
    auto handler = std::make_unique<LogHandler>(nullptr, path());
    LogHandler *raw = handler.get();
    std::atomic<bool> held{false}, release{false}, destroyed{false};
    std::thread inside([&] {
        ASSERT_TRUE(raw->lockWithTimeout());
        held = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        raw->logWithDataFromDictionary(record(0, "last words"));
        raw->unlock();
    });
    while (!held)
        std::this_thread::sleep_for(1ms);
    std::atomic<unsigned int> waiterCount{99};
    const auto waitStart = std::chrono::steady_clock::now();
    std::thread waiter([&] { waiterCount = raw->getItemCount(); }); // waits for the lock
    std::this_thread::sleep_for(50ms);
    std::thread destroyer([&] {
        handler.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(destroyed); // still waiting for the call inside

    // A new call during destruction is refused at once rather than after the
    // 30-second lock time-out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(raw->getItemCount(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    waiter.join(); // gave up waiting when destruction began
    EXPECT_EQ(waiterCount, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - waitStart, 5s);

    release = true;
    inside.join();
    destroyer.join();
    EXPECT_TRUE(destroyed);
    LogFile reread(path());
    ASSERT_EQ(reread.getItemCount(), 1u);
    EXPECT_EQ(reread.getItem(0)->value("message").toString(), "last words");
}

TEST_F(LogHandlerTest, NotificationsOfAGoneHandlerOrDelegateAreDropped)
{
    RecordingDelegate delegate;
    {
        LogHandler handler(&delegate, path());
        EXPECT_EQ(handler.delegate(), &delegate);
        handler.logWithDataFromDictionary(record(0, "a"));
    }
    deliverNotifications();
    EXPECT_TRUE(delegate.events.isEmpty());

    LogHandler handler(&delegate, path("second"));
    handler.logWithDataFromDictionary(record(0, "b"));
    handler.setDelegate(nullptr);
    deliverNotifications();
    EXPECT_TRUE(delegate.events.isEmpty());

    handler.setDelegate(&delegate);
    std::thread([&] { handler.clear(); }).join();
    deliverNotifications();
    EXPECT_EQ(delegate.events, QStringList({"trimmed"}));
    EXPECT_FALSE(delegate.offMain);
    EXPECT_EQ(handler.getItemCount(), 0u);
    EXPECT_TRUE(testenv::readFile(path("second")).isEmpty());
}

TEST_F(LogHandlerTest, OnlyTheLogCallSetsTheWarningFlag)
{
    LogInitialize(nullptr, path());
    auto handler = LogHandler::defaultHandler();
    VTR_LOG(0, "note");
    EXPECT_FALSE(handler->getWarningAndErrorFlag());
    VTR_LOG(1, "warning");
    EXPECT_TRUE(handler->getWarningAndErrorFlag());
    VTR_LOG(0, "note");
    EXPECT_TRUE(handler->getWarningAndErrorFlag());
    EXPECT_EQ(handler->getItemCount(), 3u);
}

} // namespace
