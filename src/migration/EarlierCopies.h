// What an earlier run's copies in a folder of the new phone ask of this
// one: whether they stay, and their removal, only while each is still the
// very file found to be ours.

#pragma once

#include "fileinfo/VtrBaseFileInfo.h"

#include <QString>

#include <QSet>
#include <QString>

#include <sys/stat.h>

namespace vtr::migration {

// The names of the copies of ours in `folder` other than `now`, as far as
// their status tells.
QSet<QString> earlierCopiesThatStay(const VtrFileInfoPtr &folder, const VtrFileInfoList &now);

enum class Removal { Removed, NotOurs, Failed };

// Removes `name` of `folder` only while it is the file `seen`. A check by
// path and a removal by path leave a moment in which another file can take
// the name and be removed in its place: the entry is first moved aside, in
// one step and by descriptor, under a name no item holds, and looked at
// there. A file that is not the one checked goes back under its name (or
// the next free one, should the name have been taken again meanwhile).
Removal removeIfStill(const QString &folder, const QString &name, const struct stat &seen);

}  // namespace vtr::migration
