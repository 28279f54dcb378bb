#pragma once

#include "fileinfo/VtrBaseFileInfo.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/FiledFiles.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

// Files what the media migrators copied to the new phone's folders into the
// computer's own libraries as well (the media-library host of
// sources/host/MediaLibraryHost.h stands for the music and photo
// applications). The base does nothing and answers success; the wizard's
// jobs choose and create one importer per kind and hand it to the migrator.
class iAppImporter
{
public:
    virtual ~iAppImporter() = default;

    // Files the files into the collection (playlist or album) of that name.
    virtual bool importFiles(const VtrFileInfoList &files, const QString &collectionName);
    // The application's display name for the status texts.
    virtual QString iAppName() const { return QString(); }
    // Whether importFileDictionaries() is answered (the music importer's).
    virtual bool respondsToImportFileDictionaries() const { return false; }
    // Each dictionary: "targetFileInfo" (a VtrFileInfoPtr in a QVariant) and
    // "playlistNames" (QStringList, may be absent). Answers success; the
    // counts of files filed and of distinct playlists used.
    virtual bool importFileDictionaries(const QVariantList &dictionaries, const QString &collectionName,
                                        uint *outNumFilesMigrated, uint *outNumPlaylistsMigrated);

    // The files of the import calls to come are the copies of this run in
    // the new phone's folders: each is filed only as the very file its copy
    // left, read through its folder's descriptor (MediaLibraryHost's
    // addCopied...), and a file named without one is not filed at all.
    // Nothing is then looked at by a file's path. nullopt: the files are
    // filed by their paths (a script's, a test's).
    void setCopies(const std::optional<QList<vtr::CopiedFile>> &copies);

    // The files the last import call could not file into the library (each
    // also logged by name); empty when every file was filed.
    const QStringList &refusedFiles() const { return m_refused; }
    // How many of them the library refused because the computer's disk had
    // no room for their copies.
    qsizetype refusedForLackOfSpace() const { return m_refusedForSpace; }
    // How many of them were not filed because what stands at their names is
    // not this run's copy any more (moved, replaced or changed after it).
    qsizetype refusedAsNoLongerTheCopy() const { return m_refusedNotCopies; }
    // The library's folders (a collection's, an album's) that the refused
    // files were not put into, each once, in the order met.
    const QStringList &refusedFolders() const { return m_refusedFolders; }
    // Why the last import call could not be saved in the library (its
    // files, playlists or album), in the person's words; empty when it was.
    const QString &filingFailure() const { return m_filingFailure; }
    // The playlists the last import call put tracks into (a collection's
    // too) whose files the library could not write, each with the folder it
    // belongs in; and why, in the person's words, when the library said it
    // (that is then no filingFailure()). The next import into them writes
    // them once their folder can be used.
    const QList<MediaLibraryHost::UnwrittenPlaylist> &unwrittenPlaylists() const { return m_unwrittenPlaylists; }
    const QString &playlistsFailure() const { return m_playlistsFailure; }
    // The library's own file that the last import call filed `file` as (or
    // found it already was); empty when it filed it nowhere.
    QString libraryFileOf(const QString &file) const { return m_libraryFiles.value(file); }

    // A new folder "<product> <date and time>" in the private temporary
    // folder holding one symbolic link per file (named as the file); nullptr
    // when it cannot be made. The photo importer removes it when its import
    // ends. An existing folder of that name (an import in
    // the same second) is reused, its links replaced by this call's. The
    // files no link could be made for (a name given twice) are added to
    // `failed`, the links made to `made`.
    static VtrFileInfoPtr createTempFolderOfSymLinksForFiles(const VtrFileInfoList &files,
                                                             QStringList *failed = nullptr,
                                                             QStringList *made = nullptr);

protected:
    // Logs how many files were refused and their names.
    void logRefusals() const;
    // Clears what the last import call refused.
    void beginImport();
    // `file` is refused by the library for `why`, at `folder` (may be empty).
    void refuse(const QString &file, int why, const QString &folder = QString());
    // The failure of the library's saving at the end of an import.
    void savingFailed(const MediaLibraryHost::Failure &failure);
    // Which of the playlists (by persistent ID) the library could not write.
    void notePlaylistsNotWritten(MediaLibraryHost &host, const QSet<QString> &persistentIDs);
    // The copy `file` stands for, when copies were handed (setCopies()); one
    // that no copy is known for is filed as no file at all, which fails.
    std::optional<vtr::CopiedFile> copyOf(const VtrFileInfoPtr &file) const;

    QStringList m_refused;
    QStringList m_refusedFolders;
    qsizetype m_refusedForSpace = 0;
    qsizetype m_refusedNotCopies = 0;
    std::optional<QHash<QString, vtr::CopiedFile>> m_copies;  // by path
    QString m_filingFailure;
    QList<MediaLibraryHost::UnwrittenPlaylist> m_unwrittenPlaylists;
    QString m_playlistsFailure;
    QHash<QString, QString> m_libraryFiles;
};

class iTunesImporter final : public iAppImporter
{
public:
    bool importFiles(const VtrFileInfoList &files, const QString &collectionName) override;
    QString iAppName() const override { return QStringLiteral("iTunes"); }
    bool respondsToImportFileDictionaries() const override { return true; }
    bool importFileDictionaries(const QVariantList &dictionaries, const QString &collectionName,
                                uint *outNumFilesMigrated, uint *outNumPlaylistsMigrated) override;
    bool cancelWaitingForITunes() const { return false; }
};

class iPhotoImporter final : public iAppImporter
{
public:
    bool importFiles(const VtrFileInfoList &files, const QString &collectionName) override;
    QString iAppName() const override { return QStringLiteral("iPhoto"); }
};

// Nothing creates it; it files nothing.
class ApertureImporter final : public iAppImporter
{
public:
    QString iAppName() const override { return QStringLiteral("Aperture"); }
};

Q_DECLARE_METATYPE(VtrFileInfoPtr)
