// The media byte budget and the estimate built on it: the worked examples,
// remainders, ties, one kind, none, and budgets at zero, below zero and
// beyond 4 GiB; and how much to free for all of the media.

#include "app/MediaTransfer.h"

#include <gtest/gtest.h>

namespace {

using vtrmedia::Budgets;

constexpr qint64 GiB = 1073741824;
constexpr qint64 kNone = -1;  // kind not ticked

Budgets kinds(qint64 music, qint64 photos, qint64 videos)
{
    Budgets b;
    const qint64 needs[] = {music, photos, videos};
    for (int k = 0; k < 3; ++k) {
        b[k].included = needs[k] != kNone;
        b[k].need = needs[k] == kNone ? 0 : needs[k];
    }
    return b;
}

TEST(MediaBudget, SharesTheSpaceAndHandsOnWhatAKindDoesNotNeed)
{
    struct Case
    {
        const char *name;
        qint64 available;
        qint64 music, photos, videos;              // needs
        qint64 spaceMusic, spacePhotos, spaceVideos;  // results (0 for unticked)
    };
    const Case cases[] = {
        {"worked example: 500 bytes go to no kind", 9000, 2500, 1000, 5000, 2500, 1000, 5000},
        {"two kinds, the odd byte dropped", 7, 100, kNone, 100, 3, 0, 3},
        {"a need equal to the share stays open with its share", 3000, 1000, 1000, 1000, 1000, 1000, 1000},
        {"only photos, the space is smaller", 500, kNone, 800, kNone, 0, 500, 0},
        {"only photos, the need is smaller", 500, kNone, 200, kNone, 0, 200, 0},
        {"no kind ticked", 9000, kNone, kNone, kNone, 0, 0, 0},
        {"nothing left after the reserve", 0, 10, 10, 10, 0, 0, 0},
        {"below the reserve every kind gets the same negative budget", -3000, 10, 10, 10, -1000, -1000, -1000},
        {"a carry smaller than the open kinds stays unused", 10, 2, 100, 100, 2, 3, 3},
        {"the carry is shared once more", 12, 0, 100, 100, 0, 6, 6},
        {"nothing needed at all", 900, 0, 0, 0, 0, 0, 0},
        {"beyond 4 GiB", 12 * GiB, 5 * GiB, 1 * GiB, 9 * GiB, 5 * GiB, 1 * GiB, 6 * GiB},
        {"the largest volume", std::numeric_limits<qint64>::max(), 1, 2, kNone, 1, 2, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Budgets b = kinds(c.music, c.photos, c.videos);
        vtrmedia::shareBudget(c.available, b);
        EXPECT_EQ(b[vtrmedia::Music].space, c.spaceMusic);
        EXPECT_EQ(b[vtrmedia::Photos].space, c.spacePhotos);
        EXPECT_EQ(b[vtrmedia::Videos].space, c.spaceVideos);
    }
}

TEST(MediaBudget, TheEstimateKeepsTheReserveAndStopsWhenNothingIsLeft)
{
    struct Case
    {
        const char *name;
        qint64 free;
        qint64 music, photos, videos;
        qint64 spaceForMedia, spaceMusic, spacePhotos, spaceVideos;
    };
    const Case cases[] = {
        {"the worked example", GiB + 9000, 2500, 1000, 5000, 9000, 2500, 1000, 5000},
        {"exactly the reserve", GiB, 10, 10, 10, 0, 0, 0, 0},
        {"less than the reserve", 100, 10, 10, 10, 0, 0, 0, 0},
        {"a share of zero bytes", GiB + 2, 10, 10, 10, 2, 0, 0, 0},
        {"no kind included", GiB + 50, kNone, kNone, kNone, 50, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Budgets b = kinds(c.music, c.photos, c.videos);
        qint64 media = -7;
        vtrmedia::estimate(c.free, b, &media);
        EXPECT_EQ(media, c.spaceForMedia);
        EXPECT_EQ(b[vtrmedia::Music].space, c.spaceMusic);
        EXPECT_EQ(b[vtrmedia::Photos].space, c.spacePhotos);
        EXPECT_EQ(b[vtrmedia::Videos].space, c.spaceVideos);
    }
    Budgets b = kinds(1, 1, 1);
    vtrmedia::estimate(GiB + 30, b, nullptr);  // the output is optional
    EXPECT_EQ(b[vtrmedia::Music].space, 1);
}

TEST(MediaBudget, WhatToFreeGivesEveryKindAllItNeeds)
{
    // Beyond the bare difference, the bytes the shares drop: with 10 more,
    // photos and videos would each be a byte short.
    EXPECT_EQ(vtrmedia::spaceToFree(GiB, kinds(0, 5, 5)), 12);
    EXPECT_EQ(vtrmedia::spaceToFree(GiB + 12, kinds(0, 5, 5)), 0);
    EXPECT_EQ(vtrmedia::spaceToFree(100, kinds(10, 10, 10)), GiB - 70);
    EXPECT_EQ(vtrmedia::spaceToFree(0, kinds(kNone, kNone, kNone)), 0);
    // Sizes as a phone lists them: a sum beyond the largest size says the
    // most there is, never a wrapped amount.
    constexpr qint64 kLargest = std::numeric_limits<qint64>::max();
    EXPECT_GE(vtrmedia::spaceToFree(GiB, kinds(kLargest, kLargest, 1)), kLargest - GiB);
    EXPECT_EQ(vtrmedia::spaceToFree(0, kinds(kNone, kLargest - GiB, kNone)), kLargest);
}

}  // namespace
