#pragma once

#include <QtGlobal>

#include <array>

// The byte budget of the media copy: the free space of the new phone's
// volume less 1 GiB, shared among the ticked kinds; a kind that needs less
// than its share closes and hands the rest on to the kinds still open.
namespace vtrmedia {

inline constexpr qint64 kReservedBytes = 1073741824;

enum Kind { Music = 0, Photos = 1, Videos = 2 };

struct KindBudget
{
    bool included = false;
    qint64 need = 0;   // bytes of everything backed up
    qint64 space = 0;  // the budget (out)
};
using Budgets = std::array<KindBudget, 3>;

// Shares `available` (free space less the reserve; may be zero or negative)
// among the included kinds: each starts with available / n (truncated), then
// rounds of closing (photos, videos, music in that order; a kind closes when
// its need is strictly less than its space) hand the difference on in equal
// parts, remainders carried to the next round. What no kind can use is left.
void shareBudget(qint64 available, Budgets &kinds);

// The estimate: the same budget from the volume's free space; all spaces 0
// when nothing is left after the reserve or no kind is included.
// *spaceForMedia (when given) is the space after the reserve.
void estimate(qint64 freeSpaceOnVolume, Budgets &kinds, qint64 *spaceForMedia);

// How many bytes more the volume needs free for every included kind's
// budget to hold all it needs (0 when they do already).
qint64 spaceToFree(qint64 freeSpaceOnVolume, const Budgets &kinds);

}  // namespace vtrmedia
