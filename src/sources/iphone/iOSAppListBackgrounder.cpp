#include "sources/iphone/iOSAppListBackgrounder.h"

#include "fileinfo/VtrMacFileInfo.h"
#include "foundation/Log.h"
#include "platform/MainThread.h"
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "sources/iphone/ArchiveMember.h"
#include "sources/iphone/PropertyList.h"

#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

struct iOSAppListBackgrounder::Shared
{
    mutable std::mutex mutex;
    iOSAppListBackgrounderDelegate *delegate = nullptr;
    std::atomic<bool> cancelled{false};

    iOSAppListBackgrounderDelegate *currentDelegate() const
    {
        std::lock_guard lock(mutex);
        return delegate;
    }
};

namespace {

constexpr auto kHandOverPoll = std::chrono::milliseconds(50);

void collectPackages(const VtrFileInfoPtr &folder, QList<QUrl> &urls, const std::atomic<bool> *cancelled)
{
    VtrFileInfoList children;
    try {
        children = folder->folderContents();
    } catch (const VtrException &) {
        return;
    }
    for (const VtrFileInfoPtr &child : children) {
        if (cancelled && *cancelled) return;
        auto *local = dynamic_cast<VtrMacFileInfo *>(child.get());
        if (child->isFolder()) {
            if (!local || !local->isAlias()) collectPackages(child, urls, cancelled);
        } else if (child->extension() == QLatin1String("ipa")) {
            urls.append(QUrl::fromLocalFile(child->path()));
        }
    }
}

QList<QUrl> findPackages(const std::atomic<bool> *cancelled)
{
    QList<QUrl> urls;
    for (const QString &folder : iOSAppListBackgrounder::packageFolders()) {
        const VtrMacFileInfo::Ptr info = VtrMacFileInfo::fileInfoWithPath(folder);
        if (info->isFolder()) collectPackages(info, urls, cancelled);
    }
    return urls;
}

QVariantList readPackages(const QList<QUrl> &urls, const std::atomic<bool> *cancelled)
{
    QVariantList apps;
    for (const QUrl &url : urls) {
        if (cancelled && *cancelled) break;
        const QVariantMap item = iOSAppListBackgrounder::appInfoForIpaAtURL(url);
        if (!item.isEmpty()) apps.append(item);
    }
    return apps;
}

} // namespace

iOSAppListBackgrounder::iOSAppListBackgrounder() : m_shared(std::make_shared<Shared>()) {}

iOSAppListBackgrounder::~iOSAppListBackgrounder()
{
    setDelegate(nullptr);
    m_shared->cancelled = true;
    if (m_thread.joinable()) m_thread.join();
}

void iOSAppListBackgrounder::setDelegate(iOSAppListBackgrounderDelegate *delegate)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->delegate = delegate;
}

iOSAppListBackgrounderDelegate *iOSAppListBackgrounder::delegate() const
{
    return m_shared->currentDelegate();
}

void iOSAppListBackgrounder::findIOSAppsInBackground()
{
    if (m_thread.joinable()) return;
    m_thread = std::thread([shared = m_shared] {
        QVariantList apps;
        try {
            apps = readPackages(findPackages(&shared->cancelled), &shared->cancelled);
        } catch (const std::exception &e) {
            VTR_LOG(2, QStringLiteral("iPhone app search failed: %1").arg(QString::fromLocal8Bit(e.what())));
        } catch (...) {
            VTR_LOG(2, QStringLiteral("iPhone app search failed"));
        }
        // The answer waits for the main thread, but never outlives its
        // backgrounder: a destroyed one stops the wait and the queued call
        // finds no delegate.
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        platform::runOnMain([shared, apps, done] {
            try {
                if (iOSAppListBackgrounderDelegate *delegate = shared->currentDelegate()) delegate->populateAppUI(apps);
            } catch (...) {
                VTR_LOG(2, QStringLiteral("iPhone app list delegate failed"));
            }
            done->set_value();
        });
        while (!shared->cancelled && finished.wait_for(kHandOverPoll) != std::future_status::ready) {
        }
    });
}

QVariantList iOSAppListBackgrounder::findIOSApps()
{
    return readPackages(deviceAppIpaFileURLs(), nullptr);
}

void iOSAppListBackgrounder::findIOSAppsComplete(const QVariantList &apps)
{
    if (iOSAppListBackgrounderDelegate *delegate = this->delegate()) delegate->populateAppUI(apps);
}

QStringList iOSAppListBackgrounder::packageFolders()
{
    QStringList folders;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty()) folders.append(music + QStringLiteral("/iTunes"));
    const QVariant configured = platform::UserDefaults::value(QString::fromLatin1(kPackageFoldersDefaultsKey));
    const QStringList extra = configured.typeId() == QMetaType::QString ? QStringList{configured.toString()}
                                                                        : configured.toStringList();
    for (const QString &folder : extra) {
        if (!folder.isEmpty() && !folders.contains(folder)) folders.append(folder);
    }
    return folders;
}

QList<QUrl> iOSAppListBackgrounder::deviceAppIpaFileURLs()
{
    return findPackages(nullptr);
}

QVariantMap iOSAppListBackgrounder::appInfoForIpaAtURL(const QUrl &url)
{
    QString error;
    const QByteArray metadata =
        vtr::readArchiveMember(url.toLocalFile(), QStringLiteral("iTunesMetadata.plist"), kMaxMetadataBytes, &error);
    if (!error.isEmpty()) VTR_LOG(1, QStringLiteral("unzip output %1").arg(error));
    const QVariantMap info = vtr::plist::dictionaryFromData(metadata);
    const QVariant itemId = info.value(QStringLiteral("itemId"));
    const QVariant itemName = info.value(QStringLiteral("itemName"));
    if (itemId.isValid() && itemName.typeId() == QMetaType::QString && !itemName.toString().isEmpty()) {
        QVariantMap item;
        item.insert(QStringLiteral("itemId"), itemId);
        item.insert(QStringLiteral("itemName"), itemName);
        return item;
    }
    VTR_LOG(1, QStringLiteral("Could not find info for app at %1").arg(url.toString()));
    return {};
}
