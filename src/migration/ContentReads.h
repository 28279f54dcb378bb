// The contents of the files a run copies, read once each: what their records
// name a copy by, and what shows a file is still the one we wrote.

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <sys/stat.h>
#include <utility>

namespace vtr::migration {

// SHA-256 of the plain file at `path` (never through a link); `seen` is
// what it was when it was opened. Empty when it cannot be read, or when
// `abandon` turns true meanwhile.
QByteArray contentHash(const QString &path, struct stat *seen, const std::function<bool()> &abandon = {});
// The same of the entry `name` of the open folder `dir`.
QByteArray contentHashIn(int dir, const QString &name, struct stat *seen);

// The contents a copy is to have: its source's, or the bytes it is given.
struct Contents
{
    qint64 size = -1;
    QByteArray sha256; // empty: not known
};

Contents contentsOfBytes(const QByteArray &bytes);

// Reads the contents of the files to copy, in their order, each once. Large
// ones are read ahead on other threads while the files before them are
// copied: hashing takes longer than copying, so one thread alone would hold
// the copy back. A small one is read when its turn comes: that costs less
// than a thread. A copy that ends early does not wait for the reads ahead.
class SourceReads
{
public:
    // A stop (`cancelled`, asked on the copy's thread) ends a read at once.
    SourceReads(QList<std::pair<QString, qint64>> sources, std::function<bool()> cancelled)
        : m_sources(std::move(sources)), m_cancelled(std::move(cancelled))
    {
    }
    ~SourceReads() { m_abandon->store(true); }
    SourceReads(const SourceReads &) = delete;
    SourceReads &operator=(const SourceReads &) = delete;

    // The next source's contents; not known when it cannot be read.
    Contents next();

private:
    static constexpr size_t kReadsAtOnce = 3;
    static constexpr qint64 kReadAtOnceBytes = 256 * 1024;

    static Contents read(const QString &path, const std::shared_ptr<std::atomic<bool>> &abandon);

    void readAhead();

    QList<std::pair<QString, qint64>> m_sources; // path and size
    qsizetype m_next = 0;
    qsizetype m_scanned = 0;
    std::function<bool()> m_cancelled;
    std::shared_ptr<std::atomic<bool>> m_abandon = std::make_shared<std::atomic<bool>>(false);
    std::deque<std::pair<qsizetype, std::future<Contents>>> m_ahead;
};

}  // namespace vtr::migration
