// Reading what the files to copy hold: their hashes, the large ones read
// ahead on threads of their own while the files before them are copied.

#include "migration/ContentReads.h"

#include <QCryptographicHash>
#include <QFile>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace vtr::migration {

namespace {

// SHA-256 of the file open as `fd` (closed here).
QByteArray hashOfOpenFile(int fd, struct stat *seen, const std::function<bool()> &abandon)
{
    if (fd < 0) return {};
    QByteArray result;
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (context && ::fstat(fd, seen) == 0 && S_ISREG(seen->st_mode) &&
        EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        // A small file needs no buffer of a mebibyte.
        QByteArray buffer(int(std::clamp<qint64>(qint64(seen->st_size) + 1, 4096, 1 << 20)), Qt::Uninitialized);
        bool ok = true;
        for (;;) {
            if (abandon && abandon()) {
                ok = false;
                break;
            }
            const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            if (EVP_DigestUpdate(context, buffer.constData(), size_t(n)) != 1) {
                ok = false;
                break;
            }
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (ok && EVP_DigestFinal_ex(context, digest, &length) == 1)
            result = QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
    }
    EVP_MD_CTX_free(context);
    ::close(fd);
    return result;
}

}  // namespace

QByteArray contentHash(const QString &path, struct stat *seen, const std::function<bool()> &abandon)
{
    return hashOfOpenFile(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC), seen, abandon);
}

QByteArray contentHashIn(int dir, const QString &name, struct stat *seen)
{
    return hashOfOpenFile(
        ::openat(dir, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC), seen, {});
}

Contents contentsOfBytes(const QByteArray &bytes)
{
    return {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()};
}

Contents SourceReads::next()
{
    const qsizetype index = m_next++;
    readAhead();
    if (!m_ahead.empty() && m_ahead.front().first == index) {
        std::future<Contents> &ahead = m_ahead.front().second;
        while (ahead.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (m_cancelled && m_cancelled()) {
                m_abandon->store(true);
                return {};
            }
        const Contents contents = ahead.get();
        m_ahead.pop_front();
        readAhead();
        return contents;
    }
    if (index >= m_sources.size()) return {};
    const std::shared_ptr<std::atomic<bool>> abandon = m_abandon;
    const std::function<bool()> &cancelled = m_cancelled;
    struct stat seen;
    const QByteArray hash = contentHash(m_sources.at(index).first, &seen,
                                        [&] { return abandon->load() || (cancelled && cancelled()); });
    return hash.isEmpty() ? Contents() : Contents{qint64(seen.st_size), hash};
}

Contents SourceReads::read(const QString &path, const std::shared_ptr<std::atomic<bool>> &abandon)
{
    struct stat seen;
    const QByteArray hash = contentHash(path, &seen, [&abandon] { return abandon->load(); });
    if (hash.isEmpty()) return {};
    return {qint64(seen.st_size), hash};
}

void SourceReads::readAhead()
{
    m_scanned = std::max(m_scanned, m_next);
    while (m_ahead.size() < kReadsAtOnce && m_scanned < m_sources.size()) {
        const qsizetype index = m_scanned++;
        if (m_sources.at(index).second <= kReadAtOnceBytes) continue;
        m_ahead.emplace_back(index, std::async(std::launch::async, read, m_sources.at(index).first, m_abandon));
    }
}

}  // namespace vtr::migration
