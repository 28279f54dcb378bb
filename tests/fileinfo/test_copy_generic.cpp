// The generic chunked copy between two file infos, driven through the
// in-memory kind: status codes, bytes, progress, cancel, failures at every
// chunk, free space, unique names, temporary files and device hand-over.

#include "fileinfo/FileInfoCopy.h"
#include "fileinfo/VtrBaseFileInfo.h"
#include "platform/VtrException.h"
#include "support/MemoryFileInfo.h"

#include "RecordingProgress.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

const QString kTemp = QString::fromLatin1(kVtrCopyTempFileName);

QByteArray randomBytes(qsizetype size, quint32 seed = 7)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator gen(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(gen.bounded(256));
    return bytes;
}

bool anyTempFile(MemoryStore &store)
{
    const auto snap = store.snapshot();
    for (auto it = snap.begin(); it != snap.end(); ++it)
        if (vtr::isTemporaryCopyFileName(it.key().section(QLatin1Char('/'), -1))) return true;
    return false;
}

// A progress object that answers only the read callback: a copy must treat
// it as absent.
class ReadOnlyProgress : public FileInfoReadProgress
{
public:
    int calls = 0;
    bool readingContentsForFile(const VtrFileInfoPtr &, const QByteArray &, qint64, qint64, void *) override
    {
        ++calls;
        return true;
    }
};

struct Fixture
{
    std::shared_ptr<MemoryStore> src = MemoryStore::create();
    std::shared_ptr<MemoryStore> dst = MemoryStore::create();
    QByteArray payload = randomBytes(100000);
    Fixture()
    {
        src->chunkSize = 4096;
        dst->chunkSize = 3000;
        src->addFile("/Music/song.mp3", payload, QDateTime(QDate(2012, 3, 4), QTime(5, 6, 7), Qt::UTC),
                     QDateTime(QDate(2011, 1, 2), QTime(3, 4, 5), Qt::UTC));
        dst->addFolder("/dest");
        dst->addFile("/dest/keep.txt", "keep");
    }
    MemoryFileInfoPtr source() { return src->info("/Music/song.mp3"); }
    MemoryFileInfoPtr destFolder() { return dst->info("/dest"); }
};

} // namespace

// ---- every status code ------------------------------------------------------------

struct StatusCase
{
    const char *what;
    FileInfoCopyStatus expected;
    std::function<void(Fixture &)> arrange;
    // Runs the copy; the default copies the source into /dest with unique NO.
    std::function<FileInfoCopyStatus(Fixture &)> act;
};

TEST(GenericCopy, EveryStatusCodeLeavesTheDestinationAsItWas)
{
    auto copyIntoDest = [](Fixture &f) { return f.source()->copyTo(f.destFolder()); };
    const std::vector<StatusCase> cases = {
        {"done", kFileInfoCopyOK, [](Fixture &) {}, copyIntoDest},
        {"-1 destination kind copies itself but cannot", kFileInfoCopyKindCannot, [](Fixture &) {},
         [](Fixture &f) {
             VtrFileInfoPtr root = VtrBaseFileInfo::fileInfo();
             root->setDeviceControlsCopy(true);
             return f.source()->copyTo(root);
         }},
        {"-50 copy onto itself", kFileInfoCopyBadArguments, [](Fixture &) {},
         [](Fixture &f) { return f.source()->copyTo(f.src->info("/Music")); }},
        {"-50 no destination", kFileInfoCopyBadArguments, [](Fixture &) {},
         [](Fixture &f) { return f.source()->copyTo(nullptr); }},
        {"-200 source missing", kFileInfoCopySourceMissing, [](Fixture &) {},
         [](Fixture &f) { return f.src->info("/Music/none.mp3")->copyTo(f.destFolder()); }},
        {"-201 source is a folder", kFileInfoCopySourceNotFile, [](Fixture &) {},
         [](Fixture &f) { return f.src->info("/Music")->copyTo(f.destFolder()); }},
        {"-202 temporary file not created", kFileInfoCopyTempFileNotCreated,
         [](Fixture &f) { f.dst->refuseCreateNames.insert(kTemp); }, copyIntoDest},
        {"-202 destination has no folder", kFileInfoCopyTempFileNotCreated, [](Fixture &) {},
         [](Fixture &f) { return f.source()->copyTo(VtrBaseFileInfo::fileInfo()); }},
        {"-203 source does not open", kFileInfoCopySourceNotOpened,
         [](Fixture &f) { f.src->failOpenForReading = true; }, copyIntoDest},
        {"-204 temporary file does not open", kFileInfoCopyDestinationNotOpened,
         [](Fixture &f) { f.dst->failOpenForWriting = true; }, copyIntoDest},
        {"-205 ranged read gives no data", kFileInfoCopyReadFailed, [](Fixture &f) { f.src->failReadAtChunk = 3; },
         copyIntoDest},
        {"-206 exception while writing", kFileInfoCopyException, [](Fixture &f) { f.dst->throwAtWriteChunk = 2; },
         copyIntoDest},
        {"-207 write fails", kFileInfoCopyWriteFailed, [](Fixture &f) { f.dst->failWriteAtChunk = 5; }, copyIntoDest},
        {"-207 final move fails", kFileInfoCopyWriteFailed, [](Fixture &f) { f.dst->moveFailureStatus = -1; },
         copyIntoDest},
        {"-208 a folder of that name is in the way", kFileInfoCopyDestinationNotFile,
         [](Fixture &f) { f.dst->addFolder("/dest/song.mp3"); }, copyIntoDest},
        {"-209 too little free space", kFileInfoCopyNoSpace,
         [](Fixture &f) {
             f.dst->reserve = 1000;
             f.dst->freeSpace = f.payload.size() + 999;
         },
         copyIntoDest},
        {"-210 cancelled by the progress answer", kFileInfoCopyCancelled, [](Fixture &) {},
         [](Fixture &f) {
             RecordingProgress progress;
             progress.cancelAtCall = 2;
             return f.source()->copyTo(f.destFolder(), false, &progress, nullptr, nullptr);
         }},
        {"-211 kind's own write code passes unchanged", kFileInfoCopyPathTooLong,
         [](Fixture &f) {
             f.dst->failWriteAtChunk = 0;
             f.dst->writeFailureStatus = kFileInfoCopyPathTooLong;
         },
         copyIntoDest},
        {"-220 ranged write not supported", kFileInfoCopyNotSupported,
         [](Fixture &f) {
             f.dst->failWriteAtChunk = 1;
             f.dst->writeFailureStatus = kFileInfoCopyNotSupported;
         },
         copyIntoDest},
    };

    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        c.arrange(f);
        const auto before = f.dst->snapshot();
        const auto sourceBefore = f.src->snapshot();
        const FileInfoCopyStatus status = c.act(f);
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(f.src->snapshot(), sourceBefore) << "the source must never change";
        EXPECT_FALSE(anyTempFile(*f.dst));
        EXPECT_EQ(f.src->openHandles, 0);
        EXPECT_EQ(f.dst->openHandles, 0);
        if (c.expected == kFileInfoCopyOK) {
            EXPECT_EQ(f.dst->lookup("/dest/song.mp3")->data, f.payload);
        } else if (c.arrange) {
            EXPECT_EQ(f.dst->snapshot(), before) << "a failed copy leaves the destination as it was";
        }
    }
}

// ---- bytes and progress -----------------------------------------------------------------

TEST(GenericCopy, MultiChunkCopyGivesIdenticalBytesAndMonotonicProgress)
{
    Fixture f;
    RecordingProgress progress;
    int tag = 42;
    VtrFileInfoPtr newItem;
    ASSERT_EQ(f.source()->copyTo(f.destFolder(), false, &progress, &tag, &newItem), kFileInfoCopyOK);

    ASSERT_TRUE(newItem);
    EXPECT_EQ(newItem->path(), "/dest/song.mp3");
    EXPECT_TRUE(newItem->exists());
    EXPECT_EQ(newItem->fileContents(), f.payload);
    EXPECT_EQ(newItem->size(), f.payload.size());
    // The smaller chunk of the two sides: 3000 bytes.
    EXPECT_EQ(f.dst->writeCalls, (f.payload.size() + 2999) / 3000);
    EXPECT_EQ(f.src->readCalls, f.dst->writeCalls);
    ASSERT_EQ(progress.percents.size(), size_t(f.dst->writeCalls));
    for (size_t i = 1; i < progress.percents.size(); ++i)
        EXPECT_LT(progress.percents[i - 1], progress.percents[i]);
    EXPECT_FLOAT_EQ(progress.percents.back(), 100.0f);
    EXPECT_EQ(progress.userDatas.back(), &tag);
    EXPECT_EQ(progress.lastDestinationName, kTemp) << "progress names the temporary file being written";
    // Dates travel with the copy.
    EXPECT_EQ(newItem->modificationDate(), f.source()->modificationDate());
    EXPECT_EQ(newItem->creationDate(), f.source()->creationDate());
    EXPECT_EQ(f.dst->lookup("/dest/keep.txt")->data, QByteArray("keep"));
}

TEST(GenericCopy, ZeroByteSourceMakesAnEmptyFileWithoutProgressCalls)
{
    Fixture f;
    f.src->addFile("/empty.txt", QByteArray(""));
    RecordingProgress progress;
    VtrFileInfoPtr newItem;
    ASSERT_EQ(f.src->info("/empty.txt")->copyTo(f.destFolder(), false, &progress, nullptr, &newItem), kFileInfoCopyOK);
    EXPECT_TRUE(progress.percents.empty());
    EXPECT_EQ(f.src->readCalls, 0);
    ASSERT_TRUE(newItem);
    EXPECT_TRUE(newItem->exists());
    EXPECT_EQ(newItem->size(), 0);
}

TEST(GenericCopy, ShortReadsAreContinuedAndAReadOnlyProgressIsIgnored)
{
    Fixture f;
    f.src->shortReadAtChunk = 2;
    ReadOnlyProgress progress; // answers only the read callback: treated as absent
    ASSERT_EQ(f.source()->copyTo(f.destFolder(), false, &progress, nullptr, nullptr), kFileInfoCopyOK);
    EXPECT_EQ(f.dst->lookup("/dest/song.mp3")->data, f.payload);
    EXPECT_EQ(progress.calls, 0);
}

// A file above 4 GiB: every range and offset must be 64-bit. The source makes
// its bytes on demand and the destination checks them as they arrive.
TEST(GenericCopy, FiveGibiByteFileCopiesWhole)
{
    const qint64 size = qint64(5) << 30;
    auto src = MemoryStore::create();
    auto dst = MemoryStore::create();
    src->chunkSize = dst->chunkSize = qint64(64) << 20;
    dst->sinkMode = true;
    src->addSyntheticFile("/big.mov", size + 12345);
    dst->addFolder("/dest");
    RecordingProgress progress;
    VtrFileInfoPtr newItem;
    ASSERT_EQ(src->info("/big.mov")->copyTo(dst->info("/dest"), false, &progress, nullptr, &newItem), kFileInfoCopyOK);
    ASSERT_TRUE(newItem);
    EXPECT_EQ(newItem->size(), size + 12345);
    MemoryStore::Node *node = dst->lookup("/dest/big.mov");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->sinkSize, size + 12345);
    EXPECT_EQ(node->sinkMismatches, 0);
    EXPECT_EQ(node->sinkOutOfOrderWrites, 0);
    ASSERT_FALSE(progress.percents.empty());
    EXPECT_FLOAT_EQ(progress.percents.back(), 100.0f);
}

// ---- cancel --------------------------------------------------------------------------------

// Cancels at every chunk are in FailureAtAnyChunk...; these are the timing rules.
TEST(GenericCopy, CancelStopsBeforeTheNextChunkAndNoAnswerUndoesIt)
{
    {
        Fixture f;
        auto source = f.source();
        f.dst->onWrite = [&](int index) {
            if (index == 0) source->cancelCopy();
        };
        EXPECT_EQ(source->copyTo(f.destFolder()), kFileInfoCopyCancelled);
        EXPECT_EQ(f.src->readCalls, 1) << "the chunk being written completes, no further chunk is read";
        // A new copy clears the earlier cancel.
        f.dst->onWrite = nullptr;
        EXPECT_EQ(source->copyTo(f.destFolder()), kFileInfoCopyOK);
    }
    {
        Fixture f;
        auto source = f.source();
        RecordingProgress progress; // always answers NO
        f.dst->onWrite = [&](int index) {
            if (index == 1) source->cancelCopy();
        };
        EXPECT_EQ(source->copyTo(f.destFolder(), false, &progress, nullptr, nullptr), kFileInfoCopyCancelled);
        EXPECT_EQ(f.src->readCalls, 2);
        EXPECT_FALSE(f.dst->hasItem("/dest/song.mp3"));
    }
    {
        Fixture f; // the answer after the last chunk comes too late
        RecordingProgress progress;
        progress.cancelAtCall = int((f.payload.size() + 2999) / 3000);
        EXPECT_EQ(f.source()->copyTo(f.destFolder(), false, &progress, nullptr, nullptr), kFileInfoCopyOK);
        EXPECT_EQ(f.dst->lookup("/dest/song.mp3")->data, f.payload);
    }
}

// ---- failure at any chunk --------------------------------------------------------------------

TEST(GenericCopy, FailureAtAnyChunkLeavesAnExistingDestinationUntouched)
{
    const int chunks = int((Fixture().payload.size() + 2999) / 3000);
    struct Injection
    {
        const char *what;
        FileInfoCopyStatus expected;
        std::function<void(Fixture &, int, const MemoryFileInfoPtr &)> inject;
    };
    const std::vector<Injection> injections = {
        {"read fails", kFileInfoCopyReadFailed, [](Fixture &f, int k, auto &) { f.src->failReadAtChunk = k; }},
        {"read throws", kFileInfoCopyException, [](Fixture &f, int k, auto &) { f.src->throwAtReadChunk = k; }},
        {"write fails", kFileInfoCopyWriteFailed, [](Fixture &f, int k, auto &) { f.dst->failWriteAtChunk = k; }},
        {"write throws", kFileInfoCopyException, [](Fixture &f, int k, auto &) { f.dst->throwAtWriteChunk = k; }},
        {"cancel", kFileInfoCopyCancelled,
         [](Fixture &f, int k, const MemoryFileInfoPtr &source) {
             f.dst->onWrite = [source, k](int index) {
                 if (index == k) source->cancelCopy();
             };
         }},
    };
    for (const Injection &injection : injections) {
        for (int k = 0; k < chunks; ++k) {
            SCOPED_TRACE(testing::Message() << injection.what << " at chunk " << k);
            Fixture f;
            f.dst->addFile("/dest/song.mp3", "old contents");
            const MemoryFileInfoPtr source = f.source();
            injection.inject(f, k, source);
            const auto before = f.dst->snapshot();
            VtrFileInfoPtr newItem = f.destFolder(); // must be cleared
            const FileInfoCopyStatus status = source->copyTo(f.destFolder(), false, nullptr, nullptr, &newItem);
            if (injection.expected == kFileInfoCopyCancelled && k == chunks - 1) {
                EXPECT_EQ(status, kFileInfoCopyOK) << "a cancel after the last chunk comes too late";
                continue;
            }
            EXPECT_EQ(status, injection.expected);
            EXPECT_EQ(newItem, nullptr);
            EXPECT_EQ(f.dst->snapshot(), before);
            EXPECT_FALSE(anyTempFile(*f.dst));
            EXPECT_EQ(f.dst->openHandles + f.src->openHandles, 0);
        }
    }
}

// ---- destinations, names and free space ---------------------------------------------------------

TEST(GenericCopy, ExistingFileInTheFolder)
{
    const struct
    {
        const char *what;
        const char *existing; // holds "old"
        const char *destination;
        bool unique;
        const char *expected;
    } cases[] = {
        {"unique names: a new name beside the old file", "/dest/song.mp3", "/dest", true, "/dest/song-1.mp3"},
        {"a name differing in case is taken too", "/dest/SONG.MP3", "/dest", true, "/dest/song-1.mp3"},
        {"without unique names the file is replaced", "/dest/song.mp3", "/dest", false, "/dest/song.mp3"},
        {"a file destination is replaced even with unique names", "/dest/o.bin", "/dest/o.bin", true, "/dest/o.bin"},
        {"a missing file destination is created under its own name", nullptr, "/dest/new.mp3", true, "/dest/new.mp3"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (c.existing) f.dst->addFile(c.existing, "old");
        VtrFileInfoPtr newItem;
        ASSERT_EQ(f.source()->copyTo(f.dst->info(c.destination), c.unique, nullptr, nullptr, &newItem),
                  kFileInfoCopyOK);
        ASSERT_TRUE(newItem);
        EXPECT_EQ(newItem->path(), c.expected);
        EXPECT_EQ(f.dst->lookup(c.expected)->data, f.payload);
        if (c.existing && QLatin1String(c.existing) != QLatin1String(c.expected)) {
            EXPECT_EQ(f.dst->lookup(c.existing)->data, QByteArray("old"));
        }
    }
}

TEST(GenericCopy, CopyIntoItsOwnFolder)
{
    Fixture f;
    auto folder = f.src->info("/Music");
    EXPECT_EQ(f.source()->copyTo(folder), kFileInfoCopyBadArguments);
    EXPECT_EQ(f.src->lookup("/Music/song.mp3")->data, f.payload);
    VtrFileInfoPtr newItem;
    ASSERT_EQ(f.source()->copyTo(folder, true, nullptr, nullptr, &newItem), kFileInfoCopyOK);
    EXPECT_EQ(newItem->name(), "song-1.mp3");
    EXPECT_EQ(f.src->lookup("/Music/song-1.mp3")->data, f.payload);
}

TEST(GenericCopy, NoFreeUniqueNameFailsWithAStatus)
{
    Fixture f;
    f.dst->addFile("/dest/song.mp3", "0");
    for (int n = 1; n < VtrBaseFileInfo::kMaxUniqueNameAttempts; ++n)
        f.dst->addFile(QStringLiteral("/dest/song-%1.mp3").arg(n), "x");
    EXPECT_TRUE(f.destFolder()->uniqueFilename("song.mp3").isNull());
    const auto before = f.dst->snapshot();
    EXPECT_EQ(f.source()->copyTo(f.destFolder(), true, nullptr, nullptr, nullptr), kFileInfoCopyDestinationNotOpened);
    EXPECT_EQ(f.dst->snapshot(), before);
}

TEST(GenericCopy, FreeSpaceBoundary)
{
    for (const qint64 spare : {qint64(0), qint64(-1)}) {
        Fixture f;
        f.dst->reserve = 5242880;
        f.dst->freeSpace = f.payload.size() + 5242880 + spare;
        const auto before = f.dst->snapshot();
        EXPECT_EQ(f.source()->copyTo(f.destFolder()), spare < 0 ? kFileInfoCopyNoSpace : kFileInfoCopyOK);
        if (spare < 0) {
            EXPECT_EQ(f.dst->snapshot(), before);
            EXPECT_FALSE(f.dst->log.join(QLatin1Char('\n')).contains("created"));
        }
    }
    Fixture f; // a negative free space means nothing fits
    f.dst->freeSpace = -1;
    f.src->addFile("/empty", QByteArray(""));
    EXPECT_EQ(f.src->info("/empty")->copyTo(f.destFolder()), kFileInfoCopyNoSpace);
}

// ---- the temporary file -------------------------------------------------------------------------

TEST(GenericCopy, LeftoverTemporaryFileIsRemovedFirst)
{
    Fixture f;
    f.dst->addFile("/dest/" + kTemp, "junk of an old copy");
    ASSERT_EQ(f.source()->copyTo(f.destFolder()), kFileInfoCopyOK);
    EXPECT_FALSE(f.dst->hasItem("/dest/" + kTemp));
    ASSERT_FALSE(f.dst->log.isEmpty());
    EXPECT_TRUE(f.dst->log.first().contains(QStringLiteral("removed /dest/") + kTemp))
        << "the leftover goes before anything is created";

    // A leftover that stays, or a folder of that name: the copy gives way.
    for (const bool folder : {false, true}) {
        Fixture g;
        if (folder) {
            g.dst->addFolder("/dest/" + kTemp);
            g.dst->addFile("/dest/" + kTemp + "/inside.txt", "theirs");
        } else {
            g.dst->addFile("/dest/" + kTemp, "junk of an old copy");
            g.dst->refuseRemoveNames.insert(kTemp);
        }
        const auto before = g.dst->snapshot();
        EXPECT_EQ(g.source()->copyTo(g.destFolder()), kFileInfoCopyTempFileNotCreated);
        EXPECT_EQ(g.dst->snapshot(), before);
    }
}

TEST(GenericCopy, ListingDuringACopyKeepsItsTemporaryFile)
{
    Fixture f;
    RecordingProgress progress;
    int listed = -1;
    progress.onCall = [&](int call) {
        if (call != 2) return;
        VtrFileInfoList items = f.destFolder()->folderContents();
        listed = int(items.size());
        EXPECT_TRUE(f.dst->hasItem("/dest/" + kTemp));
        // A second copy into the same folder must not take the temporary file.
        f.src->addFile("/other.bin", "other");
        EXPECT_EQ(f.src->info("/other.bin")->copyTo(f.destFolder()), kFileInfoCopyTempFileNotCreated);
    };
    ASSERT_EQ(f.source()->copyTo(f.destFolder(), false, &progress, nullptr, nullptr), kFileInfoCopyOK);
    EXPECT_EQ(listed, 1) << "the listing shows keep.txt only, not the temporary file";
    EXPECT_EQ(f.dst->lookup("/dest/song.mp3")->data, f.payload);

    // Once no copy owns it, a listing removes a leftover.
    f.dst->addFile("/dest/" + kTemp, "leftover");
    f.destFolder()->folderContents();
    EXPECT_FALSE(f.dst->hasItem("/dest/" + kTemp));
}

TEST(GenericCopy, SourceNamedLikeTheTemporaryFileIsNeverRemoved)
{
    auto store = MemoryStore::create();
    store->addFile("/d/" + kTemp, "precious");
    EXPECT_EQ(store->info("/d/" + kTemp)->copyTo(store->info("/d/out.bin")), kFileInfoCopyTempFileNotCreated);
    EXPECT_EQ(store->lookup("/d/" + kTemp)->data, QByteArray("precious"));
}

// ---- devices that copy themselves ----------------------------------------------------------------

TEST(GenericCopy, DestinationDeviceTakesTheCopy)
{
    Fixture f;
    auto phone = MemoryStore::create();
    phone->deviceControlsCopy = true;
    phone->addFolder("/Music");
    VtrFileInfoPtr newItem;
    ASSERT_EQ(f.source()->copyTo(phone->info("/Music"), false, nullptr, nullptr, &newItem), kFileInfoCopyOK);
    EXPECT_EQ(phone->copyFromFileCalls, 1);
    EXPECT_EQ(phone->writeCalls, 0) << "no chunked copy when the device copies";
    ASSERT_TRUE(newItem);
    EXPECT_EQ(newItem->fileContents(), f.payload);

    phone->copyFromFileStatus = kFileInfoCopyWriteFailed;
    EXPECT_EQ(f.source()->copyTo(phone->info("/Music")), kFileInfoCopyWriteFailed);
}

TEST(GenericCopy, SourceOrBothDevicesCopyingIsAnError)
{
    Fixture f;
    auto phone = MemoryStore::create();
    phone->deviceControlsCopy = true;
    phone->addFile("/a.mp3", "x");
    phone->addFolder("/Music");
    auto reasonRaised = [](const VtrFileInfoPtr &from, const VtrFileInfoPtr &to) {
        try {
            from->copyTo(to);
        } catch (const VtrException &e) {
            return e.name() + QLatin1String(": ") + e.reason();
        }
        return QString();
    };
    EXPECT_EQ(reasonRaised(phone->info("/a.mp3"), f.destFolder()),
              "VtrBaseFileInfo: Subclass of VtrBaseFileInfo must override this method to perform the copy.");
    EXPECT_EQ(reasonRaised(phone->info("/a.mp3"), phone->info("/Music")),
              "VtrBaseFileInfo: File info objects are not yet able to perform this sort of copy.");
}

// ---- whole-contents copy under a name ----------------------------------------------------------

TEST(CopyWithName, StatusTable)
{
    struct Case
    {
        const char *what;
        FileInfoCopyStatus expected;
        std::function<FileInfoCopyStatus(Fixture &, VtrFileInfoPtr *)> act;
    };
    const std::vector<Case> cases = {
        {"new name in a folder", kFileInfoCopyOK,
         [](Fixture &f, VtrFileInfoPtr *out) { return f.source()->copyToWithName(f.destFolder(), "n.mp3", out); }},
        {"beside a file", kFileInfoCopyOK,
         [](Fixture &f, VtrFileInfoPtr *out) {
             return f.source()->copyToWithName(f.dst->info("/dest/keep.txt"), "n.mp3", out);
         }},
        {"existing file is rewritten", kFileInfoCopyOK,
         [](Fixture &f, VtrFileInfoPtr *out) {
             f.dst->addFile("/dest/n.mp3", "old");
             return f.source()->copyToWithName(f.destFolder(), "n.mp3", out);
         }},
        {"missing source", kFileInfoCopyBadArguments,
         [](Fixture &f, VtrFileInfoPtr *out) {
             return f.src->info("/none")->copyToWithName(f.destFolder(), "n.mp3", out);
         }},
        {"destination neither folder nor file", kFileInfoCopyBadArguments,
         [](Fixture &f, VtrFileInfoPtr *out) {
             return f.source()->copyToWithName(f.dst->info("/nowhere"), "n.mp3", out);
         }},
        {"onto itself", kFileInfoCopyBadArguments,
         [](Fixture &f, VtrFileInfoPtr *out) {
             return f.source()->copyToWithName(f.src->info("/Music"), "song.mp3", out);
         }},
        {"a folder of that name", kFileInfoCopyDestinationNotFile,
         [](Fixture &f, VtrFileInfoPtr *out) {
             f.dst->addFolder("/dest/n.mp3");
             return f.source()->copyToWithName(f.destFolder(), "n.mp3", out);
         }},
        {"creation refused", kFileInfoCopyWriteFailed,
         [](Fixture &f, VtrFileInfoPtr *out) {
             f.dst->refuseCreateNames.insert("n.mp3");
             return f.source()->copyToWithName(f.destFolder(), "n.mp3", out);
         }},
        {"unreadable source does not empty the target", kFileInfoCopySourceNotOpened,
         [](Fixture &f, VtrFileInfoPtr *out) {
             f.dst->addFile("/dest/n.mp3", "old");
             f.src->failWholeRead = true;
             return f.source()->copyToWithName(f.destFolder(), "n.mp3", out);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        VtrFileInfoPtr out = f.destFolder();
        const FileInfoCopyStatus status = c.act(f, &out);
        EXPECT_EQ(status, c.expected);
        if (status == kFileInfoCopyOK) {
            ASSERT_TRUE(out);
            EXPECT_EQ(out->fileContents(), f.payload);
            EXPECT_EQ(out->name(), "n.mp3");
        } else {
            EXPECT_EQ(out, nullptr);
            const MemoryStore::Node *n = f.dst->lookup("/dest/n.mp3");
            if (n && !n->folder) {
                EXPECT_EQ(n->data, QByteArray("old"));
            }
        }
    }
}

// ---- the reusable temporary-file step -------------------------------------------------------------

TEST(TemporaryFileCopy, ReplacesOnlyWithACompleteFile)
{
    auto store = MemoryStore::create();
    store->addFile("/d/x.bin", "old");
    const VtrFileInfoPtr destination = store->info("/d/x.bin");
    vtr::TemporaryFileCopyOptions options;
    VtrFileInfoPtr out;
    using Fill = std::function<FileInfoCopyStatus(const VtrFileInfoPtr &)>;
    auto copy = [&](const Fill &fill, const VtrFileInfoPtr &to = nullptr) {
        return vtr::copyThroughTemporaryFile(to ? to : destination, options, fill, &out);
    };
    const Fill fillNew = [](const VtrFileInfoPtr &temp) {
        EXPECT_TRUE(vtr::isTemporaryCopyFileInUse(temp->path()));
        return temp->setFileContents("new") ? kFileInfoCopyOK : kFileInfoCopyWriteFailed;
    };

    EXPECT_EQ(copy(fillNew), kFileInfoCopyOK);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->path(), "/d/x.bin");
    EXPECT_EQ(store->lookup("/d/x.bin")->data, QByteArray("new"));
    EXPECT_FALSE(vtr::isTemporaryCopyFileInUse("/d/" + kTemp));

    const auto before = store->snapshot();
    EXPECT_EQ(copy([](const VtrFileInfoPtr &temp) {
                  temp->setFileContents("partial");
                  return kFileInfoCopyCancelled;
              }),
              kFileInfoCopyCancelled);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(
        copy([](const VtrFileInfoPtr &) -> FileInfoCopyStatus { throw VtrException("StopSyncException", "gone"); }),
        kFileInfoCopyException);
    EXPECT_EQ(store->snapshot(), before);
    struct Foreign
    {
    };
    EXPECT_THROW(copy([](const VtrFileInfoPtr &) -> FileInfoCopyStatus { throw Foreign{}; }), Foreign);
    EXPECT_EQ(store->snapshot(), before) << "the temporary file goes even when a foreign exception passes";
    EXPECT_FALSE(vtr::isTemporaryCopyFileInUse("/d/" + kTemp));

    options.requiredBytes = 10;
    store->freeSpace = 9;
    EXPECT_EQ(copy(fillNew), kFileInfoCopyNoSpace);
    options.requiredBytes = -1;
    store->addFolder("/d/folder");
    EXPECT_EQ(copy(fillNew, store->info("/d/folder")), kFileInfoCopyDestinationNotFile);
    EXPECT_EQ(copy(fillNew, store->info("/d/" + kTemp)), kFileInfoCopyTempFileNotCreated)
        << "the temporary file cannot be its own destination";
    EXPECT_FALSE(anyTempFile(*store));
}

// The account of a failed copy names its unfinished file only while that is
// still there: a leftover named after it was removed sends the person
// looking for a file that is not there.
TEST(TemporaryFileCopy, AFailedCopyNamesItsUnfinishedFileOnlyWhileItStays)
{
    for (const bool stays : {false, true}) {
        SCOPED_TRACE(stays ? "the removal fails" : "removed");
        auto store = MemoryStore::create();
        store->addFile("/d/x.bin", "old");
        if (stays) store->refuseRemoveNames.insert(kTemp);
        const auto fill = [](const VtrFileInfoPtr &temp) {
            temp->setFileContents("part");
            return kFileInfoCopyWriteFailed;
        };
        EXPECT_EQ(vtr::copyThroughTemporaryFile(store->info("/d/x.bin"), {}, fill, nullptr), kFileInfoCopyWriteFailed);
        const vtr::CopyFailure failure = vtr::lastCopyFailure();
        EXPECT_EQ(failure.folder.toStdString(), "/d");
        EXPECT_EQ(failure.leftover.toStdString(), stays ? ("/d/" + kTemp).toStdString() : std::string());
        EXPECT_EQ(store->hasItem("/d/" + kTemp), stays);
        EXPECT_EQ(store->lookup("/d/x.bin")->data, QByteArray("old"));
    }
}
