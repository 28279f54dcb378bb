#include "pim/store/VdirSource.h"

#include "foundation/Log.h"
#include "pim/store/ICalRecords.h"
#include "pim/store/VCardRecords.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cstring>
#include <vector>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <strings.h>
#include <sys/stat.h>

namespace syncstore {

namespace {

QString quoted(const QString &path) { return QStringLiteral("The vdir folder \"%1\"").arg(path); }

// One folder's item files (full paths) and subfolders (names), each in name
// order, from one pass over its entries: a folder of ten thousand items is
// listed in a few milliseconds (Qt's listings look at every entry's modes).
// Item files are matched by their suffix in any case, as a listing's name
// filter does; hidden subfolders are left out.
struct Listing
{
    QStringList files, folders;
};

bool hasSuffix(const char *name, const QByteArray &dotSuffix)
{
    const size_t n = strlen(name), k = size_t(dotSuffix.size());
    return n > k && strncasecmp(name + n - k, dotSuffix.constData(), k) == 0;
}

// `oneFile`: one item file is enough (whether the folder holds any); with
// `subfolders` false the listing stops at it.
Listing listFolder(const QString &folder, const QString &suffix, bool oneFile, bool subfolders)
{
    const QByteArray path = QFile::encodeName(folder);
    DIR *dir = opendir(path.constData());
    if (!dir) throw sourceException(quoted(folder), QStringLiteral("the folder cannot be listed"));
    const QByteArray dotSuffix = '.' + suffix.toLatin1();
    std::vector<QByteArray> files, folders;
    errno = 0;
    while (const dirent *e = readdir(dir)) {
        const char *name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool isFile = e->d_type == DT_REG, isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) { // the file system does not say, or a link: follow it
            struct stat st;
            if (stat((path + '/' + name).constData(), &st) == 0) {
                isFile = S_ISREG(st.st_mode);
                isFolder = S_ISDIR(st.st_mode);
            }
        }
        if (isFile && hasSuffix(name, dotSuffix)) {
            if (!oneFile || files.empty()) files.emplace_back(name);
            if (oneFile && !subfolders) break;
        } else if (isFolder && subfolders && name[0] != '.') {
            folders.emplace_back(name);
        }
        errno = 0;
    }
    // A listing cut short by an error would leave items out unseen.
    const int listError = errno;
    closedir(dir);
    if (listError != 0)
        throw sourceException(quoted(folder), QStringLiteral("the folder cannot be listed: %1")
                                                  .arg(QString::fromLocal8Bit(strerror(listError))));
    // In the order of the names' bytes.
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    Listing out;
    out.files.reserve(qsizetype(files.size()));
    const QString prefix = folder + QLatin1Char('/');
    for (const QByteArray &f : files) out.files.append(prefix + QFile::decodeName(f));
    for (const QByteArray &f : folders) out.folders.append(QFile::decodeName(f));
    return out;
}

// The collections of a named folder, each with its item files: itself and
// its subfolders, when they hold at least one item. A file that cannot be
// read is not skipped silently: its reading fails with the folder's name.
// `namesOnly`: the item files are not wanted (the lists hold the first one).
QList<std::pair<QString, QStringList>> collections(const QString &folder, const QString &suffix, bool namesOnly)
{
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    Listing top = listFolder(absolute, suffix, namesOnly, true);
    QList<std::pair<QString, QStringList>> out;
    if (!top.files.isEmpty()) out.append({absolute, std::move(top.files)});
    for (const QString &sub : top.folders) {
        const QString path = absolute + QLatin1Char('/') + sub;
        Listing inner = listFolder(path, suffix, namesOnly, false);
        if (!inner.files.isEmpty()) out.append({path, std::move(inner.files)});
    }
    return out;
}

[[noreturn]] void unreadable(const QString &path, const QString &collection, int error)
{
    throw sourceException(quoted(collection),
                          QStringLiteral("\"%1\": %2").arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(strerror(error))));
}

// The whole file, or a source error: part of an item is never read as if it
// were all of it. (The file handle's reader trusts the size the file tells,
// which some file systems give as 0.)
QByteArray readFile(const QString &path, const QString &collection)
{
    // Read at once into one buffer of the file's size (a QFile costs as much
    // as parsing a small item).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        unreadable(path, collection, error);
    }
    QByteArray data;
    data.resize(qsizetype(st.st_size));
    qsizetype done = 0;
    for (;;) {
        if (done == data.size()) {
            if (st.st_size > 0) break;
            data.resize(done + 4096); // a file that tells no size: read to its end
        }
        const ssize_t n = ::read(fd, data.data() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            unreadable(path, collection, error);
        }
        if (n == 0) break;
        done += n;
    }
    ::close(fd);
    data.resize(done);
    return data;
}

QString metadata(const QString &collection, const char *name)
{
    QFile f(QDir(collection).filePath(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

// The cards of a file that one reason leaves out (or reads in part), one
// line each for the first few (kCardsNamed), then one line for how many
// more: a crafted file of a million cards writes no million lines. `each`
// takes the card's number (1 for the first) and `more` the count, and then
// the file.
void logCards(const QList<qsizetype> &cards, const QString &file, const QString &each, const QString &more)
{
    LogRepeats lines(1, [&](qsizetype count) { return more.arg(count).arg(file); });
    for (const qsizetype card : cards)
        if (lines.admit()) VTR_LOG(1, each.arg(card + 1).arg(file));
}

void logVCardNotes(const VCardFileNotes &notes, const QString &file, bool anyRead)
{
    const QString tooMany = QStringLiteral(": more than %1 properties or categories").arg(kCardProperties);
    logCards(notes.tooLarge, file, QStringLiteral("Left out card %1 of \"%2\"") + tooMany,
             QStringLiteral("Left out %1 more cards of \"%2\"") + tooMany);
    // The parser's own, bounded the same way.
    for (const auto &[card, warning] : notes.parserWarnings)
        VTR_LOG(1, QStringLiteral("Card %1 of \"%2\": the vCard parser warns: %3").arg(QString::number(card + 1), file, warning));
    if (notes.parserWarningCount > notes.parserWarnings.size())
        VTR_LOG(1, QStringLiteral("%1 more warnings of the vCard parser on \"%2\"")
                       .arg(QString::number(notes.parserWarningCount - notes.parserWarnings.size()), file));
    if (!anyRead) return;  // the file is named once: no card went in
    logCards(notes.unread, file, QStringLiteral("Left out card %1 of \"%2\": not a readable item"),
             QStringLiteral("Left out %1 more cards of \"%2\": not readable items"));
    logCards(notes.lostEnd, file, QStringLiteral("Card %1 of \"%2\" lost its END: read as far as it goes"),
             QStringLiteral("%1 more cards of \"%2\" lost their END: read as far as they go"));
    LogRepeats agents(1, [&file](qsizetype count) {
        return QStringLiteral("%1 more cards of \"%2\" lost their END, or the cards of their AGENTs did: read up to "
                              "their AGENT, what follows as the next card")
            .arg(count)
            .arg(file);
    });
    for (const qsizetype index : notes.endedAtAgent) {
        if (!agents.admit()) continue;
        const qsizetype card = index + 1;
        VTR_LOG(1, QStringLiteral("Card %1 of \"%2\" lost its END, or the card of its AGENT did: read up to its AGENT, "
                                  "what follows as card %3")
                       .arg(QString::number(card), file, QString::number(card + 1)));
    }
}

}  // namespace

VdirSource::VdirSource(QStringList folders) : m_folders(std::move(folders)) {}

QString VdirSource::name() const { return QStringLiteral("the vdir folders"); }

QStringList VdirSource::folders() const
{
    if (!m_folders.isEmpty()) return m_folders;
    const QVariant v = platform::UserDefaults::value(kVdirFoldersDefaultsKey);
    return v.typeId() == QMetaType::QString ? QStringList{v.toString()} : v.toStringList();
}

SourceReadResult VdirSource::read(SyncDataKind kind, SyncRecordSink &sink)
{
    SourceReadResult result;
    const QString suffix = kind == SyncDataKind::Contacts ? QStringLiteral("vcf") : QStringLiteral("ics");
    ContactRecordBuilder contacts(sink);
    for (const QString &folder : folders()) {
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            VTR_LOG(0, QStringLiteral("The vdir folder \"%1\" does not exist").arg(folder));
            continue;
        }
        result.found = true;
        for (const auto &[collection, files] : collections(folder, suffix, kind == SyncDataKind::Calendars)) {
            result.collections.append(collection);
            if (kind == SyncDataKind::Calendars) {
                QVariantMap cal{{QStringLiteral("title"), metadata(collection, "displayname")}};
                if (cal.value(QStringLiteral("title")).toString().isEmpty())
                    cal.insert(QStringLiteral("title"), QFileInfo(collection).fileName());
                const QString color = storeColorText(metadata(collection, "color"));
                if (!color.isNull()) cal.insert(QStringLiteral("color"), color);
                cal.insert(QStringLiteral("read only"), QFileInfo(collection).isWritable() ? 0 : 1);
                sink.addRecord(collection, entity::Calendar, cal);
                ++result.items;
                continue;
            }
            CalendarItemBuilder items(sink, kind, collection);
            for (const QString &file : files) {
                const QByteArray data = readFile(file, collection);
                const QString base = QFileInfo(file).completeBaseName();
                bool ok = true;
                VCardFileNotes notes;
                if (kind == SyncDataKind::Contacts) {
                    ok = contacts.addVCardFile(data, base, &notes) > 0;
                    logVCardNotes(notes, file, ok);
                } else {
                    ok = items.addICalendarText(data, base);
                }
                if (!ok) {
                    // A file of cards too large only is named once, with why.
                    if (notes.tooLarge.isEmpty()) VTR_LOG(1, QStringLiteral("Left out \"%1\": not a readable item").arg(file));
                    result.leftOut.append(file);
                }
            }
            items.finish();
            result.items += items.itemCount();
        }
    }
    contacts.finishGroups();
    if (kind == SyncDataKind::Contacts) result.items = contacts.contactCount();
    return result;
}

}  // namespace syncstore
