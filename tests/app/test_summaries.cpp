// Check-box titles and the summary texts before and after the work.
#include "app/NS_AppControllerSummaries.h"

#include <gtest/gtest.h>

using namespace vtrsummaries;

namespace {

QString textOf(const Texts &texts, const QString &kind)
{
    for (const auto &t : texts)
        if (t.first == kind) return t.second;
    return QStringLiteral("<unchanged>");
}

Choices all()
{
    Choices c;
    c.apps = c.contacts = c.calendars = c.music = c.videos = c.photos = true;
    return c;
}

}  // namespace

TEST(CheckboxTitles, MediaInfoTellsWhenMediaCannotMove)
{
    const QVariantMap movable = checkboxTitles(true);
    const QVariantMap fixed = checkboxTitles(false);
    EXPECT_EQ(movable.size(), 16);
    EXPECT_EQ(fixed.value("musicInfo"), QStringLiteral("Music - cannot transfer music for this device"));
    EXPECT_EQ(fixed.value("photosInfo"), QStringLiteral("Photos - cannot transfer photos for this device"));
    EXPECT_EQ(fixed.value("videosInfo"), QStringLiteral("Videos - cannot transfer videos for this device"));
    EXPECT_EQ(fixed.value("music"), QStringLiteral("Music"));
    EXPECT_EQ(movable.value("musicInfo"), QStringLiteral("Music"));
    EXPECT_EQ(movable.value("calendarsInfo"), QStringLiteral("Calendars"));
}

TEST(CheckboxTitles, AStoreThatRebuildsDoesNotRecurse)
{
    int stores = 0;
    std::function<void(const QVariantMap &)> store = [&](const QVariantMap &) {
        ++stores;
        buildCheckboxTitles(false, store);  // an observer ticking a media kind
    };
    buildCheckboxTitles(true, store);
    EXPECT_EQ(stores, 1);
    buildCheckboxTitles(true, [&](const QVariantMap &) { ++stores; });
    EXPECT_EQ(stores, 2);
}

TEST(Summaries, BeforeTheWork)
{
    Choices c = all();
    c.appCount = 7;
    EXPECT_EQ(prepopulatedSummaries(c), (Texts{{"apps", "7 Apps"},
                                               {"contacts", "Contacts"},
                                               {"calendars", "Calendars"},
                                               {"music", "Music"},
                                               {"videos", "Videos"},
                                               {"photos", "Photos"}}));
    EXPECT_EQ(prepopulatedSummaries(Choices{}), (Texts{{"apps", "Skipping Apps"},
                                                       {"contacts", "Skipping Contacts"},
                                                       {"calendars", "Skipping Calendars"},
                                                       {"music", "Skipping Music"},
                                                       {"videos", "Skipping Videos"},
                                                       {"photos", "Skipping Photos"}}));
}

TEST(Summaries, AfterTheWorkMovedFailedAndSkippedDiffer)
{
    const QVariantMap contacts{{"contact_cnt", 120}, {"title", "Contacts"}};
    const QVariantMap events{{"event_cnt", 40}, {"title", "Events"}, {"calendar_cnt", 3}, {"calendar_title", "Calendars"}};
    const struct {
        quint32 con, cal, ev;
        const char *contacts;
        const char *calendars;
    } cases[] = {
        {120, 3, 40, "120 Contacts", "40 Events in 3 Calendars"},
        {118, 3, 39, "118 of 120 Contacts", "39 of 40 Events in 3 Calendars"},
        {0, 0, 0, "0 of 120 Contacts", "0 of 40 Events in 0 of 3 Calendars"},
    };
    for (const auto &c : cases) {
        const Texts texts = postpopulatedSummaries(all(), Results{c.con, c.cal, c.ev, contacts, events});
        EXPECT_EQ(textOf(texts, "contacts"), QString::fromLatin1(c.contacts));
        EXPECT_EQ(textOf(texts, "calendars"), QString::fromLatin1(c.calendars));
        // Chosen apps and media keep what the progress last said.
        for (const char *kind : {"apps", "music", "videos", "photos"})
            EXPECT_EQ(textOf(texts, kind), QStringLiteral("<unchanged>")) << kind;
    }
}

TEST(Summaries, NotChosenIsSkippedAfterTheWork)
{
    // A cancelled login unticks contacts and calendars.
    Choices c = all();
    c.contacts = c.calendars = c.apps = false;
    const Texts texts = postpopulatedSummaries(c, Results{});
    EXPECT_EQ(textOf(texts, "contacts"), QStringLiteral("Skipped Contacts"));
    EXPECT_EQ(textOf(texts, "calendars"), QStringLiteral("Skipped Calendars"));
    EXPECT_EQ(textOf(texts, "apps"), QStringLiteral("Skipped Apps"));
    const Texts none = postpopulatedSummaries(Choices{}, Results{});
    EXPECT_EQ(textOf(none, "music"), QStringLiteral("Skipped Music"));
    EXPECT_EQ(textOf(none, "videos"), QStringLiteral("Skipped Videos"));
    EXPECT_EQ(textOf(none, "photos"), QStringLiteral("Skipped Photos"));
}

TEST(Summaries, AReaderWithoutASummaryStillGivesAPlainText)
{
    const Texts texts = postpopulatedSummaries(all(), Results{5, 1, 2, {}, {}});
    EXPECT_EQ(textOf(texts, "contacts"), QStringLiteral("5 Contacts"));
    EXPECT_EQ(textOf(texts, "calendars"), QStringLiteral("2 Events in 1 Calendars"));
}
