#pragma once

#include <QVariantMap>

// A made-up music library of the usual shape (a Mac's locations, artists,
// albums, genres, podcasts, videos, smart playlists, folders of playlists),
// for load tests, benchmarks and demonstrations without a person's library.
// The same arguments always give the same library.
namespace vtr {

QVariantMap syntheticMusicLibrary(int trackCount, int playlistCount);

}  // namespace vtr
