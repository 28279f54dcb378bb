#pragma once

// Three-state selections of library trees: 1 on, 0 off, -1 mixed.
namespace vtr {

struct SelectionTally
{
    bool on = false;
    bool off = false;
    bool mixed = false;
    int onCount = 0;
    // Children that disagree, or one that is mixed itself.
    bool isMixed() const { return mixed || (on && off); }
};

template <typename Children>
SelectionTally tallySelections(const Children &children)
{
    SelectionTally t;
    for (const auto &child : children) {
        const int s = child->selectedForSync();
        t.mixed |= s == -1;
        t.on |= s == 1;
        t.off |= s == 0;
        t.onCount += s == 1;
    }
    return t;
}

// What a request sets: -1 (a click) toggles; any request on a mixed item
// with children goes to all on when a child that counts (`counts`) is not
// on, else to all off; otherwise the request itself.
template <typename Children, typename Counts>
int chosenSelection(int current, int requested, const Children &children, Counts counts)
{
    if (requested == -1) return current == 0 ? 1 : 0;
    if (current != -1 || children.isEmpty()) return requested;
    for (const auto &child : children)
        if (counts(*child) && child->selectedForSync() != 1) return 1;
    return 0;
}

}  // namespace vtr
