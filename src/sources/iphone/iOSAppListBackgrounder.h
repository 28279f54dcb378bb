#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <thread>

// Told of the apps found, on the main thread.
class iOSAppListBackgrounderDelegate
{
public:
    virtual ~iOSAppListBackgrounderDelegate() = default;
    // App items {"itemId" (the store identifier as the package holds it),
    // "itemName" (a non-empty text)}.
    virtual void populateAppUI(const QVariantList &apps) = 0;
};

// Finds the iPhone app packages ("*.ipa") kept with the music library and
// reads the name and store identifier of each from its
// "iTunesMetadata.plist", on a thread of its own; the list goes to the
// delegate on the main thread. One search per object. Destroying the object
// (or clearing its delegate) means a late answer goes nowhere; the destructor
// waits at most for the package being read.
class iOSAppListBackgrounder
{
public:
    // User default naming more folders to search (a path or a list of paths).
    static constexpr const char *kPackageFoldersDefaultsKey = "iPhoneAppPackageFolders";
    static constexpr qint64 kMaxMetadataBytes = 16 * 1024 * 1024;

    iOSAppListBackgrounder();
    ~iOSAppListBackgrounder();
    iOSAppListBackgrounder(const iOSAppListBackgrounder &) = delete;
    iOSAppListBackgrounder &operator=(const iOSAppListBackgrounder &) = delete;

    // Non-owning; thread-safe.
    void setDelegate(iOSAppListBackgrounderDelegate *delegate);
    iOSAppListBackgrounderDelegate *delegate() const;

    // Starts the search and returns at once (a second call does nothing).
    void findIOSAppsInBackground();
    // The search itself, on the calling thread.
    QVariantList findIOSApps();
    // Sends the list to the delegate of this moment (none: nothing).
    void findIOSAppsComplete(const QVariantList &apps);

    // The library's "iTunes" folder in the music folder, then the folders of
    // the user default.
    static QStringList packageFolders();
    // Every "*.ipa" (extension exactly "ipa") at any depth below those
    // folders, each folder walked in listing order, a folder's contents right
    // after it. Links to folders are not followed.
    static QList<QUrl> deviceAppIpaFileURLs();
    // The app item of one package; empty (logged) when it has no usable
    // metadata.
    static QVariantMap appInfoForIpaAtURL(const QUrl &url);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};
