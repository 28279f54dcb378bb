#include "sources/host/FiledFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    return m_groups[QFileInfo(path).path()];
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

QString FiledFiles::idByContent(const QString &folder, qint64 size, const std::function<QByteArray()> &digest)
{
    auto it = m_groups.find(folder);
    if (it == m_groups.end()) return {};
    Group &g = *it;
    // A file changed since it was read is read again: a second pass, for it alone.
    for (int pass = 0; pass < 2 && (pass == 0 || !g.unsized.isEmpty()); ++pass) {
        for (const Entry &e : std::as_const(g.unsized)) {
            const QFileInfo info(e.path);
            if (info.isFile()) g.unhashed[info.size()].append(e);
        }
        g.unsized.clear();
        for (const Entry &e : g.unhashed.take(size)) {
            const FileStamp stamp = m_stampOf(e.path);
            const QByteArray d = contentDigest(e.path);
            if (stamp.exists && !d.isEmpty()) g.hashed[stamp.size][d].append({e, stamp});
        }
        const auto sized = g.hashed.find(size);
        if (sized == g.hashed.end() || sized->isEmpty()) return {};
        const QByteArray d = digest();
        const auto same = d.isEmpty() ? sized->end() : sized->find(d);
        if (same == sized->end()) return {};
        // Only a file still filed as it was, with the bytes it was read with.
        for (auto known = same->begin(); known != same->end();) {
            if (idOfPath(known->entry.path) != known->entry.id) {
                known = same->erase(known);
            } else if (m_stampOf(known->entry.path) != known->stamp) {
                g.unsized.append(known->entry);
                known = same->erase(known);
            } else {
                return known->entry.id;
            }
        }
    }
    return {};
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
    // Of the files filed into the folder before, only those of its size are
    // read at all, each once.
    return {idByContent(folder, stamp.size, sourceDigest), {}};
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
