// Runs again under odd time zones (scripts/test.sh): it reads or writes dates.
#include "platform/UserDefaults.h"
#include "platform/VtrException.h"
#include "sources/host/LibraryIcons.h"
#include "sources/host/MediaLibraryHost.h"
#include "sources/host/PropertyListXml.h"
#include "sources/iphoto/VtrIPhoto.h"
#include "sources/iphoto/iPhotoInfo.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

const QString kSample = QStringLiteral(VTR_SHARED_DATA_DIR "/samples/iphoto-albumdata/patsplat-plist-AlbumData.xml");

// Each test names its own library folder in the settings and picks the
// version the photo side answers.
class IPhotoModel : public ::testing::Test
{
protected:
    void TearDown() override
    {
        platform::UserDefaults::remove(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey));
        MediaLibraryHost::shared().setVersionsForTesting(QStringLiteral("10.1"), QStringLiteral("9.0"));
    }

    void useVersion(const char *version)
    {
        MediaLibraryHost::shared().setVersionsForTesting(QStringLiteral("10.1"), QLatin1String(version));
    }

    // A library folder whose album file is the shared sample, linked, not copied.
    void useSample()
    {
        m_library = testenv::makeTempDir(QStringLiteral("iPhoto Library"));
        ASSERT_TRUE(QFile::link(kSample, m_library + QStringLiteral("/AlbumData.xml")));
        platform::UserDefaults::setValue(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey), m_library);
    }

    void useAlbumData(const QVariantMap &data)
    {
        if (m_library.isEmpty()) m_library = testenv::makeTempDir(QStringLiteral("iPhoto Library"));
        testenv::writeFile(m_library + QStringLiteral("/AlbumData.xml"), vtr::XmlPropertyListWriter::toXml(data));
        platform::UserDefaults::setValue(QLatin1String(VtrIPhoto::kLibraryFolderDefaultKey), m_library);
    }

    QString m_library;
};

QVariantMap image(const QString &path, const char *type = "Image", double modified = 0)
{
    return {{"MediaType", QLatin1String(type)}, {"ImagePath", path}, {"ModDateAsTimerInterval", modified}};
}

QVariantMap album(qint64 id, const QString &name, const QStringList &keys, QVariantMap more = {})
{
    more.insert("AlbumId", id);
    more.insert("AlbumName", name);
    more.insert("KeyList", QVariantList(keys.cbegin(), keys.cend()));
    if (!more.contains("Album Type") && !more.contains("Master")) more.insert("Album Type", "Regular");
    return more;
}

QStringList names(const QList<VtrIPhotoItemPtr> &items)
{
    QStringList result;
    for (const auto &i : items)
        result.append(i->name());
    return result;
}

}  // namespace

TEST_F(IPhotoModel, AlbumDataOfTheSampleByVersion)
{
    VTR_REQUIRE_SAMPLE(QStringLiteral("iphoto-albumdata/patsplat-plist-AlbumData.xml"));
    useSample();
    useVersion("6.0");
    {
        VtrIPhotoAlbumData data;
        EXPECT_TRUE(data.loadError().isEmpty()) << data.loadError().toStdString();
        const QVariantList albums = data.albums();
        ASSERT_EQ(albums.size(), 4);
        EXPECT_EQ(albums.at(3).toMap().value("Name").toString(), QStringLiteral("An Album"));
        EXPECT_EQ(albums.at(0).toMap().value("Type").toString(), QStringLiteral("Regular"))
            << "an album without a type is a regular one";
        EXPECT_EQ(data.writableAlbums().size(), 2);
        EXPECT_EQ(data.idFromName(QStringLiteral("an album")), 9);
        EXPECT_EQ(data.idFromName(QString()), -1);
        EXPECT_EQ(data.nameFromID(999002), QStringLiteral("Last 12 Months"));
        const QVariantMap images = data.imagesWithAlbumNamesOrIDs({QStringLiteral("An Album"), 999000});
        ASSERT_EQ(images.size(), 1);
        EXPECT_EQ(images.first().toMap().value("photo index").toInt(), 1);
        EXPECT_TRUE(data.imagesWithAlbumNamesOrIDs({QVariant::fromValue(QStringList())}).isEmpty());
        EXPECT_FALSE(data.findPhoto({{"file name", "fallow_keep.png.450x450.2005-12-04.jpg"}}))
            << "the image file is not on this computer";
    }
    useVersion("7.1.5");
    VtrIPhotoAlbumData withRolls;
    const QVariantList albums = withRolls.albums();
    ASSERT_EQ(albums.size(), 5);  // the sample's one roll has no "RollName"
    EXPECT_EQ(albums.last().toMap().value("ID").toLongLong(), VtrIPhotoAlbumData::kEventsAlbumID);
    EXPECT_EQ(albums.last().toMap().value("Type").toString(), QStringLiteral("Events Folder"));

    VtrIPhoto photos;
    EXPECT_TRUE(photos.albumsChanged());
    EXPECT_EQ(photos.numberOfAlbums(), 5);
    EXPECT_FALSE(photos.albumsChanged());
    EXPECT_EQ(photos.importableAlbumsWithProgress({}).size(), 2);
    EXPECT_TRUE(VtrIPhoto::hasIPhotoLibrary());
    EXPECT_TRUE(VtrIPhoto::hasIPhoto7OrLater());
    EXPECT_FALSE(VtrIPhoto::hasIPhoto8OrLater());
}

TEST_F(IPhotoModel, ImagesSharedByAlbumsAndFoundPhotos)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + QStringLiteral("/a.jpg"), "12345");
    testenv::writeFile(dir + QStringLiteral("/b.jpg"), "123");
    useAlbumData({{"Master Image List", QVariantMap{{"1", image(dir + "/a.jpg")}, {"2", image(dir + "/b.jpg")}}},
                  {"List of Albums", QVariantList{album(10, "One", {"2", "1"}), album(11, "Two", {"1", "3"})}},
                  {"List of Rolls", QVariantList{QVariantMap{{"RollID", 5}, {"RollName", "Trip"}, {"KeyList", QVariantList{"1"}}}}}});
    useVersion("8.0");
    VtrIPhoto photos;
    const QVariantMap images = photos.imagesWithAlbumNamesOrIDs({11, QStringLiteral("One")});
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images.value("1").toMap().value("photo index").toInt(), 1);
    EXPECT_EQ(images.value("2").toMap().value("photo index").toInt(), 2);
    EXPECT_EQ(photos.nameWithAlbumOrEventID(5), QStringLiteral("Trip"));
    EXPECT_EQ(photos.idWithAlbumOrEventName(QStringLiteral("Trip")), -1) << "events are not searched by name";

    const struct
    {
        QVariantMap description;
        const char *found;
    } finds[] = {{{{"file name", "A.JPG"}}, "a.jpg"},
                 {{{"file size", 3}}, "b.jpg"},
                 {{{"file name", "a.jpg"}, {"file size", 3}}, nullptr},
                 {{}, nullptr}};
    for (const auto &f : finds) {
        const auto found = photos.findPhoto(f.description);
        if (!f.found) {
            EXPECT_FALSE(found);
            continue;
        }
        ASSERT_TRUE(found);
        EXPECT_TRUE(found->value("ImagePath").toString().endsWith(QLatin1String(f.found)));
    }
}

TEST_F(IPhotoModel, ItemKindsNamesAndIcons)
{
    const struct
    {
        QVariantMap info;
        VtrIPhotoItem::Type type;
        const char *name;
        const char *icon;  // nullptr: none
    } cases[] = {
        {{{"MediaType", "Image"}, {"Caption", "beach.JPG"}}, VtrIPhotoItem::Photo, "beach", nullptr},
        {{{"MediaType", "Movie"}, {"OriginalPath", "/x/clip.mov"}}, VtrIPhotoItem::Movie, "clip", nullptr},
        {{{"AlbumId", 999000}, {"AlbumName", "Photos"}, {"Master", true}}, VtrIPhotoItem::Album, "Photos", "iPhotoLibrary"},
        {{{"AlbumId", 999001}, {"Album Type", "Smart"}, {"AlbumName", "Last"}}, VtrIPhotoItem::LastImport, "Last",
         "iPhotoLastImport"},
        {{{"AlbumId", 3}, {"Album Type", "Smart"}, {"AlbumName", "S"}}, VtrIPhotoItem::SmartAlbum, "S", "iPhotoSmartAlbum"},
        {{{"AlbumId", 3}, {"Album Type", "Special Month"}}, VtrIPhotoItem::SpecialMonth, "", "iPhotoCalendar"},
        {{{"AlbumId", 3}, {"Album Type", "Published"}, {"PublishServiceKey", "Flickr"}}, VtrIPhotoItem::Published, "",
         "iPhotoFlickr"},
        {{{"AlbumId", 3}, {"Album Type", "Subscribed"}}, VtrIPhotoItem::Subscribed, "", "iPhotoSubscribedAlbum"},
        {{{"AlbumId", 3}, {"Album Type", "Regular"}, {"AlbumName", "Flagged"}}, VtrIPhotoItem::Album, "Flagged",
         "iPhotoFlagged"},
        {{{"AlbumId", 3}, {"Album Type", "Weird"}}, VtrIPhotoItem::UnknownAlbumType, "", nullptr},
        {{{"RollID", 4}}, VtrIPhotoItem::Event, "", "iPhotoEventOutline"},
        {{{"name", "Ann"}, {"key", "f1"}}, VtrIPhotoItem::Face, "Ann", "iPhotoFaces"},
        {{}, VtrIPhotoItem::NotInited, "", nullptr},
    };
    for (const auto &c : cases) {
        auto item = VtrIPhotoItem::withInfo(c.info);
        EXPECT_EQ(item->type(), c.type) << c.name;
        EXPECT_EQ(item->name(), QLatin1String(c.name));
        if (c.icon)
            EXPECT_EQ(item->image(), vtr::libraryIcon(QLatin1String(c.icon))) << c.icon;
        else
            EXPECT_TRUE(item->image().isNull()) << c.name;
    }
    auto event = VtrIPhotoItem::withInfo({{"RollID", 12}, {"RollName", "Rome"}});
    EXPECT_EQ(event->description(), QStringLiteral("Rome - event [id=12]"));
    EXPECT_EQ(event->displayName(), QStringLiteral("Rome (0)"));
    auto group = VtrIPhotoItem::folder(VtrIPhotoItem::AlbumsGroup, QStringLiteral("Albums"));
    EXPECT_EQ(group->displayName(), QStringLiteral("Albums"));
    EXPECT_EQ(group->description(), QStringLiteral("Albums - group"));
    EXPECT_TRUE(group->isFolder());
    const auto back = VtrIPhotoItem::decode(event->encode());
    EXPECT_EQ(back->type(), VtrIPhotoItem::Event);
    EXPECT_EQ(back->name(), QStringLiteral("Rome"));
}

TEST_F(IPhotoModel, SelectionRunsDownAndUp)
{
    auto albumItem = VtrIPhotoItem::withInfo({{"AlbumId", 1}, {"Album Type", "Regular"}});
    auto a = VtrIPhotoItem::withInfo({{"MediaType", "Image"}});
    auto b = VtrIPhotoItem::withInfo({{"MediaType", "Image"}});
    albumItem->addChild(a);
    albumItem->addChild(b);
    EXPECT_EQ(a->selectedForSync(), 0) << "a photo never set takes its unselected album's";

    albumItem->setSelectedForSync(1);
    EXPECT_EQ(a->selectedForSync(), 1);
    EXPECT_EQ(b->selectedForSync(), 1);
    b->setSelectedForSync(0);
    EXPECT_EQ(albumItem->selectedForSync(), -1);
    albumItem->setSelectedForSync(1);  // mixed with an unselected child: all on
    EXPECT_EQ(b->selectedForSync(), 1);
    b->setSelectedForSync(0);
    a->setSelectedForSync(0);
    EXPECT_EQ(albumItem->selectedForSync(), 0);
    a->setSelectedForSync(1);
    b->setSelectedForSync(1);
    EXPECT_EQ(albumItem->selectedForSync(), 1);

    auto fresh = VtrIPhotoItem::withInfo({{"AlbumId", 2}});
    auto child = VtrIPhotoItem::withInfo({{"MediaType", "Image"}});
    fresh->addChild(child);
    fresh->setSelectedForSync(1);
    auto late = VtrIPhotoItem::withInfo({{"MediaType", "Image"}});
    fresh->addChild(late);
    EXPECT_EQ(late->selectedForSync(), 1) << "a photo never set takes its selected album's";

    iPhotoImageState state(a);
    state.setParent(albumItem.get());
    EXPECT_TRUE(state.canSync());
}

TEST_F(IPhotoModel, LibraryModelTreeAndSavedSelection)
{
    const QString dir = testenv::makeTempDir();
    for (const char *name : {"a.jpg", "b.png", "c.mov"})
        testenv::writeFile(dir + QLatin1Char('/') + QLatin1String(name), "x");
    QVariantMap data{
        {"Master Image List", QVariantMap{{"1", image(dir + "/a.jpg", "Image", 100)},
                                          {"2", image(dir + "/b.png", "Image", 200)},
                                          {"3", image(dir + "/c.mov", "Movie")}}},
        {"List of Albums",
         QVariantList{album(999000, "Photos", {"1", "2", "3"}, {{"Master", true}}), album(20, "Trips", {}, {{"Album Type", "Folder"}}),
                      album(21, "Inside", {"2"}, {{"Parent", 20}}), album(22, "Orphan", {"1"}, {{"Parent", 777}}),
                      album(23, "Clips", {"3"}), album(24, "Printed", {"1"}, {{"Album Type", "Book"}}),
                      album(25, "Chosen", {"1"}, {{"Album Type", "Selected Event Album"}})}},
        {"List of Rolls", QVariantList{QVariantMap{{"RollID", 30}, {"RollName", "Day"}, {"KeyList", QVariantList{"1", "3"}}}}},
        {"List of Faces", QVariantMap{{"0", QVariantMap{{"key", "f0"}, {"name", "Ann"}}}}}};
    useAlbumData(data);
    useVersion("7.0");
    {
        iPhotoInfo model;
        EXPECT_TRUE(model.faces().isEmpty()) << "no faces before version 8";
        EXPECT_EQ(model.sources().size(), 1 + 1 + 5);
    }
    useVersion("9.0");
    iPhotoInfo model;
    ASSERT_TRUE(model.library());
    EXPECT_EQ(model.photos().size(), 2) << "movies are not photos";
    EXPECT_EQ(names(model.mostRecentlyModifiedPhotos()), (QStringList{"b", "a"}));
    EXPECT_EQ(model.faces().size(), 1);
    ASSERT_EQ(model.albums().size(), 5);
    const VtrIPhotoItemPtr albumsFolder = model.albums().at(1);
    ASSERT_EQ(names(albumsFolder->children()), (QStringList{"Trips", "Orphan", "Clips"}));
    EXPECT_EQ(names(albumsFolder->children().first()->children()), QStringList{"Inside"});
    EXPECT_EQ(names(model.albums().at(4)->children()), QStringList{"Printed"});
    EXPECT_TRUE(albumsFolder->children().at(2)->photos().isEmpty()) << "an album of movies only has no photos";
    EXPECT_EQ(model.writableAlbumWithID(QStringLiteral("21"))->name(), QStringLiteral("Inside"));
    EXPECT_FALSE(model.writableAlbumWithID(QStringLiteral("20"))) << "a folder takes no photos";
    EXPECT_FALSE(model.writableAlbumWithID(QString()));

    int notices = 0;
    model.setSelectionChangedHandler([&notices] { ++notices; });
    model.setFromSyncState({{"21", QVariantMap{{"albumName", "Inside"}}}, {"30", QVariantMap{{"albumName", "Day"}}}});
    EXPECT_GT(notices, 0);
    EXPECT_EQ(names(model.selectedAlbums()), (QStringList{"Day", "Inside"}));
    const QVariantMap state = model.syncState();
    EXPECT_EQ(state.keys(), (QStringList{"21", "roll:30"}));
    model.setFromLegacySyncState({22});
    EXPECT_EQ(names(model.selectedAlbums()), QStringList{"Orphan"});
    EXPECT_EQ(model.infoToSync(true).size(), model.albumsToSyncInList(model.sources(), true).size());

    EXPECT_FALSE(model.checkForChanges()) << "an unchanged file keeps the tree";
    data.insert("List of Rolls", QVariantList());
    useAlbumData(data);
    QFile file(m_library + QStringLiteral("/AlbumData.xml"));
    file.open(QIODevice::ReadWrite);
    file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60), QFileDevice::FileModificationTime);
    EXPECT_TRUE(model.checkForChanges());
    ASSERT_EQ(model.events().size(), 1);
    EXPECT_TRUE(model.events().first()->children().isEmpty());
}

TEST_F(IPhotoModel, AlbumsInTheHost)
{
    const auto made = iPhotoInfo::albumWithName(QStringLiteral("Summer"), true);
    ASSERT_TRUE(made);
    EXPECT_EQ(iPhotoInfo::albumWithName(QStringLiteral("Summer"), false)->albumID, made->albumID);
    EXPECT_FALSE(iPhotoInfo::albumWithName(QStringLiteral("Winter"), false));
    EXPECT_EQ(iPhotoInfo::albumWithPersistentID(made->albumID, false, QString())->name, QStringLiteral("Summer"));
    EXPECT_EQ(iPhotoInfo::albumWithPersistentID(4711, true, QStringLiteral("Fresh"))->name, QStringLiteral("Fresh"));
    EXPECT_FALSE(iPhotoInfo::albumWithName(QStringLiteral(" "), true)) << "an album that cannot be made is not returned";
    QFile::remove(MediaLibraryHost::albumDataFilePath());
}

TEST_F(IPhotoModel, AnAlbumAndAnEventOfTheSameNumberAreChosenApart)
{
    const QString dir = testenv::makeTempDir();
    testenv::writeFile(dir + QStringLiteral("/a.jpg"), "a");
    testenv::writeFile(dir + QStringLiteral("/b.jpg"), "b");
    useAlbumData({{"Master Image List", QVariantMap{{"1", image(dir + "/a.jpg")}, {"2", image(dir + "/b.jpg")}}},
                  {"List of Albums", QVariantList{album(7, "Garden", {"1"})}},
                  {"List of Rolls", QVariantList{QVariantMap{{"RollID", 7}, {"RollName", "Beach"}, {"KeyList", QVariantList{"2"}}},
                                                 QVariantMap{{"RollID", 8}, {"RollName", "Hills"}, {"KeyList", QVariantList{"2"}}}}},
                  {"List of Faces", QVariantMap{{"0", QVariantMap{{"key", "7"}, {"name", "Ann"}}}}}});
    useVersion("9.0");
    const auto chosen = [](const iPhotoInfo &model) {
        QStringList names;
        for (const auto &item : model.selectedAlbums()) names.append(item->name());
        names.sort();
        return names;
    };
    const struct
    {
        QVariantMap state;
        QStringList selected;
    } cases[] = {
        {{{"7", QVariantMap()}}, {"Garden"}},
        {{{"roll:7", QVariantMap()}}, {"Beach"}},
        {{{"face:7", QVariantMap()}}, {"Ann"}},
        {{{"8", QVariantMap()}}, {"Hills"}},  // saved before: no album has 8
    };
    for (const auto &c : cases) {
        iPhotoInfo model;
        model.setFromSyncState(c.state);
        EXPECT_EQ(chosen(model), c.selected) << c.state.firstKey().toStdString();
        // What is saved comes back as it was chosen.
        iPhotoInfo again;
        again.setFromSyncState(model.syncState());
        EXPECT_EQ(chosen(again), c.selected) << c.state.firstKey().toStdString();
    }
    iPhotoInfo model;
    model.setFromLegacySyncState({7, 8});
    EXPECT_EQ(chosen(model), QStringList{"Garden"}) << "a legacy list names albums only";
}
