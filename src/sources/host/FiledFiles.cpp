#include "sources/host/FiledFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace vtr {

FileStamp fileStampOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {true, qint64(st.st_size), qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), quint64(st.st_dev),
            quint64(st.st_ino)};
}

namespace {

QByteArray contentDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

// A file name without the "-<n>" that made a copy's name unique, case-folded:
// "Song-2.mp3" and "song.mp3" are one name.
QString nameStem(const QString &fileName)
{
    static const QRegularExpression copyNumber(QStringLiteral("-\\d+$"));
    const QFileInfo info(fileName);
    QString base = info.completeBaseName();
    base.remove(copyNumber);
    const QString suffix = info.suffix();
    return (suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix).toCaseFolded();
}

std::optional<QPair<quint64, quint64>> fileKeyOf(FiledFiles::StampReader stampOf, const QString &path)
{
    const FileStamp stamp = stampOf(path);
    if (!stamp.exists) return std::nullopt;
    return qMakePair(stamp.device, stamp.inode);
}

}  // namespace

void FiledFiles::add(const QString &id, const QString &path, bool fresh)
{
    if (path.isEmpty()) return;
    m_byPath.insert(path, id);
    if (m_byFile)
        if (auto key = fileKeyOf(m_stampOf, path)) m_byFile->insert(*key, path);
    if (fresh)
        m_fresh.append({path, id});
    else
        groupOf(path).unsized.append({path, id});
}

void FiledFiles::addSource(const QString &id, const QString &source, const QString &copy)
{
    addSource(id, source, m_stampOf(source), copy);
}

void FiledFiles::addSource(const QString &id, const QString &source, const FileStamp &stamp, const QString &copy)
{
    const FileStamp copyStamp = m_stampOf(copy);
    if (stamp.exists && copyStamp.exists) m_bySource.insert(source, {stamp, copyStamp, id, copy});
}

void FiledFiles::settle()
{
    for (const Entry &e : std::as_const(m_fresh))
        groupOf(e.path).unsized.append(e);
    m_fresh.clear();
}

FiledFiles::Group &FiledFiles::groupOf(const QString &path)
{
    const QFileInfo info(path);
    return m_groups[info.path() + QLatin1Char('/') + nameStem(info.fileName())];
}

QString FiledFiles::idOfFile(const FileStamp &stamp)
{
    if (!m_byFile) {
        m_byFile.emplace();
        for (auto it = m_byPath.cbegin(); it != m_byPath.cend(); ++it)
            if (auto key = fileKeyOf(m_stampOf, it.key())) m_byFile->insert(*key, it.key());
    }
    const auto key = stamp.exists ? std::optional(qMakePair(stamp.device, stamp.inode)) : std::nullopt;
    const QString filed = key ? m_byFile->value(*key) : QString();
    // A filed file removed since may have left its inode number to another.
    if (filed.isEmpty() || fileKeyOf(m_stampOf, filed) != key) return {};
    return m_byPath.value(filed);
}

QString FiledFiles::idByContent(const QString &folder, const QString &fileName, qint64 size,
                                const std::function<QByteArray()> &digest)
{
    auto it = m_groups.find(folder + QLatin1Char('/') + nameStem(fileName));
    if (it == m_groups.end()) return {};
    Group &g = *it;
    for (const Entry &e : std::as_const(g.unsized)) {
        const QFileInfo info(e.path);
        if (info.isFile()) g.unhashed[info.size()].append(e);
    }
    g.unsized.clear();
    for (const Entry &e : g.unhashed.take(size)) {
        const QByteArray d = contentDigest(e.path);
        if (!d.isEmpty() && !g.hashed[size].contains(d)) g.hashed[size].insert(d, e.id);
    }
    const auto hashed = g.hashed.constFind(size);
    if (hashed == g.hashed.cend() || hashed->isEmpty()) return {};
    const QByteArray d = digest();
    return d.isEmpty() ? QString() : hashed->value(d);
}

QString FiledFiles::idOfFiled(const QString &source)
{
    if (const QString byPath = idOfPath(source); !byPath.isEmpty()) return byPath;
    return idOfFiled(source, m_stampOf(source));
}

QString FiledFiles::idOfFiled(const QString &source, const FileStamp &stamp)
{
    if (const QString byPath = idOfPath(source); !byPath.isEmpty()) return byPath;
    if (const auto it = m_bySource.constFind(source); it != m_bySource.cend()) {
        // The copy may since have been edited (it is still the one filed),
        // removed, or its name taken over by another file.
        const FileStamp copy = m_stampOf(it->copy);
        if (copy.exists && copy.device == it->copyStamp.device && copy.inode == it->copyStamp.inode &&
            idOfPath(it->copy) == it->id && stamp == it->stamp)
            return it->id;
    }
    return idOfFile(stamp);
}

FiledFiles::Placement FiledFiles::placementOf(const QString &source, const QString &folder, const QString &fileName)
{
    if (const QString same = idOfPath(source); !same.isEmpty()) return {same, {}};
    return placementOf(source, m_stampOf(source), [&source] { return contentDigest(source); }, folder, fileName);
}

FiledFiles::Placement FiledFiles::placementOf(const QString &source, const FileStamp &stamp,
                                              const std::function<QByteArray()> &digestOfSource, const QString &folder,
                                              const QString &fileName)
{
    if (const QString same = idOfFiled(source, stamp); !same.isEmpty()) return {same, {}};

    std::optional<QByteArray> digest;
    const auto sourceDigest = [&] {
        if (!digest) digest = digestOfSource();
        return *digest;
    };
    const QString sameName = QDir(folder).filePath(fileName);
    const QFileInfo sameNameInfo(sameName);
    if (sameNameInfo.isFile() && sameNameInfo.size() == stamp.size) {
        const QByteArray theirs = contentDigest(sameName);
        if (!theirs.isEmpty() && theirs == sourceDigest()) {
            const QString recorded = idOfPath(sameName);
            return recorded.isEmpty() ? Placement{{}, sameName} : Placement{recorded, {}};
        }
    }
    // Only files of the same name stem and size are read at all.
    return {idByContent(folder, fileName, stamp.size, sourceDigest), {}};
}

QByteArray FiledFiles::digestOf(int fd)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    char buffer[64 * 1024];
    for (qint64 at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {};
        if (n == 0) return hash.result();
        hash.addData(QByteArrayView(buffer, n));
        at += n;
    }
}

}  // namespace vtr
