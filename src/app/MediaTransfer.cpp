#include "app/MediaTransfer.h"

#include "foundation/Saturating.h"

#include <algorithm>

namespace vtrmedia {

namespace {

// Steps 3.3 and 3.4 of the budget: `kinds` hold their first share.
void closeAndCarry(Budgets &kinds, qint64 n)
{
    static constexpr Kind kClosingOrder[] = {Photos, Videos, Music};
    std::array<bool, 3> open{};
    for (int k = 0; k < 3; ++k) open[k] = kinds[k].included;
    qint64 carry = 0;
    do {
        const qint64 extra = carry / n;
        carry %= n;
        if (extra != 0)
            for (int k = 0; k < 3; ++k)
                if (open[k]) kinds[k].space += extra;
        for (const Kind k : kClosingOrder) {
            if (!open[k] || !(kinds[k].need < kinds[k].space)) continue;
            carry += kinds[k].space - kinds[k].need;
            kinds[k].space = kinds[k].need;
            open[k] = false;
            --n;
        }
    } while (n > 0 && carry >= n);
}

qint64 includedCount(const Budgets &kinds)
{
    qint64 n = 0;
    for (const KindBudget &k : kinds)
        if (k.included) ++n;
    return n;
}

}  // namespace

void shareBudget(qint64 available, Budgets &kinds)
{
    for (KindBudget &k : kinds) k.space = 0;
    const qint64 n = includedCount(kinds);
    if (n == 0) return;
    const qint64 share = available / n;
    for (KindBudget &k : kinds)
        if (k.included) k.space = share;
    closeAndCarry(kinds, n);
}

qint64 spaceToFree(qint64 freeSpaceOnVolume, const Budgets &kinds)
{
    // The sizes are what the phone lists: their sum, and what is added to
    // it, stop at the largest size rather than wrap.
    qint64 need = 0;
    for (const KindBudget &k : kinds)
        if (k.included) need = vtr::saturatingAdd(need, std::max<qint64>(k.need, 0));
    const qint64 n = includedCount(kinds);
    if (n == 0) return 0;
    const qint64 free = std::max<qint64>(freeSpaceOnVolume, 0);
    const qint64 least = std::max<qint64>(0, vtr::saturatingAdd(kReservedBytes, need) - free);
    // The first shares and the last carry each drop less than one byte per
    // kind: at most 2 (n - 1) bytes beyond the bare difference are needed.
    qint64 extra = least;
    for (; n > 1 && extra < vtr::saturatingAdd(least, 2 * (n - 1)); ++extra) {
        Budgets shared = kinds;
        shareBudget(vtr::saturatingAdd(free, extra) - kReservedBytes, shared);
        if (std::all_of(shared.begin(), shared.end(),
                        [](const KindBudget &k) { return !k.included || k.space >= k.need; }))
            break;
    }
    return extra;
}

void estimate(qint64 freeSpaceOnVolume, Budgets &kinds, qint64 *spaceForMedia)
{
    for (KindBudget &k : kinds) k.space = 0;
    if (spaceForMedia) *spaceForMedia = 0;
    const qint64 space = freeSpaceOnVolume - kReservedBytes;
    if (space <= 0) return;
    if (spaceForMedia) *spaceForMedia = space;
    const qint64 n = includedCount(kinds);
    if (n == 0 || space / n <= 0) return;
    shareBudget(space, kinds);
}

}  // namespace vtrmedia
