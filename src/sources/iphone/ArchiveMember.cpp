#include "sources/iphone/ArchiveMember.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace vtr {

namespace {

struct ReaderFree
{
    void operator()(archive *a) const { archive_read_free(a); }
};

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unreadable archive");
}

} // namespace

QByteArray readArchiveMember(const QString &archivePath, const QString &memberName, qint64 maxBytes, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error) *error = reason;
        return QByteArray();
    };
    std::unique_ptr<archive, ReaderFree> reader(archive_read_new());
    if (!reader) return fail(QStringLiteral("out of memory"));
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 65536) != ARCHIVE_OK)
        return fail(archiveError(reader.get()));
    const QByteArray wanted = memberName.toUtf8();
    archive_entry *entry = nullptr;
    for (;;) {
        const int rc = archive_read_next_header(reader.get(), &entry);
        if (rc == ARCHIVE_EOF) return fail(QStringLiteral("no member \"%1\"").arg(memberName));
        if (rc < ARCHIVE_WARN) return fail(archiveError(reader.get()));
        const char *name = archive_entry_pathname_utf8(entry);
        if (!name) name = archive_entry_pathname(entry);
        if (name && wanted == name && archive_entry_filetype(entry) == AE_IFREG) break;
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const la_ssize_t n = archive_read_data(reader.get(), buffer, sizeof buffer);
        if (n < 0) return fail(archiveError(reader.get()));
        if (n == 0) break;
        if (bytes.size() + n > maxBytes) return fail(QStringLiteral("member \"%1\" is too large").arg(memberName));
        bytes.append(buffer, qsizetype(n));
    }
    return bytes.isNull() ? QByteArray("") : bytes;
}

} // namespace vtr
