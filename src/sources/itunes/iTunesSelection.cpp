// The three-state selection of music library items: 0 off, 1 on, -1 mixed.
// A change runs down to children and track states and up to the parent.

#include "platform/Strings.h"
#include "sources/host/TriState.h"
#include "sources/itunes/VtrITunesItem.h"

namespace {

// Guards one change against the notifications it causes itself.
class ChangeGuard
{
public:
    explicit ChangeGuard(bool &flag) : m_flag(flag) { m_flag = true; }
    ~ChangeGuard() { m_flag = false; }
    ChangeGuard(const ChangeGuard &) = delete;
    ChangeGuard &operator=(const ChangeGuard &) = delete;

private:
    bool &m_flag;
};

}  // namespace

iTunesTrackState::iTunesTrackState(VtrITunesItemPtr track) : m_track(std::move(track)) {}

void iTunesTrackState::setTrack(VtrITunesItemPtr track)
{
    if (track != m_track) m_track = std::move(track);
}

void iTunesTrackState::setSelectedForSync(int value)
{
    if (value == m_selectedForSync) return;
    setSelectedForSyncNoBroadcast(value);
}

void iTunesTrackState::setSelectedForSyncNoBroadcast(int value)
{
    if (value != 0 && m_track && m_track->isProtected()) return;
    m_selectedForSync = value;
}

bool iTunesTrackState::parentSelectedForSyncing() const
{
    return m_parent && m_parent->selectedForSync() == 1;
}

bool iTunesTrackState::parentIsLibrary() const
{
    return m_parent && m_parent->isLibrary();
}

bool iTunesTrackState::canSync() const
{
    return !(m_track && m_track->isProtected()) && (parentSelectedForSyncing() || parentIsLibrary());
}

QString iTunesTrackState::description() const
{
    return QStringLiteral("%1 - %2").arg(m_selectedForSync).arg(m_track ? m_track->description() : QString());
}

QVariantMap iTunesTrackState::encode() const
{
    return {{QStringLiteral("_selectedForSync"), m_selectedForSync},
            {QStringLiteral("_track"), m_track ? m_track->encode() : QVariantMap()}};
}

// ---------------------------------------------------------------------------

void VtrITunesItem::storeSelection(int value)
{
    m_selectedForSync = value;
    if (m_observer) m_observer->itemSelectionChanged(this);
}

void VtrITunesItem::setSelectedForSyncNoBroadcast(int value)
{
    if (!m_changingState) m_selectedForSync = value;
}

void VtrITunesItem::setSelectedForSync(int value)
{
    if (m_isPodcastGroup) {
        setPodcastGroupSelectedForSync(value);
        return;
    }
    if (m_changingState || value == m_selectedForSync || (value == 1 && isProtected())) return;
    ChangeGuard guard(m_changingState);

    const int chosen = vtr::chosenSelection(m_selectedForSync, value, m_children,
                                            [](const VtrITunesItem &child) { return !child.isProtected(); });
    m_selectedForSync = chosen;

    if (!m_isTrack && (chosen == 0 || chosen == 1)) {
        for (const auto &child : m_children)
            child->setSelectedForSync(chosen);
        for (const auto &state : m_tracks)
            state->setSelectedForSyncNoBroadcast(chosen);
        if (chosen == 1 && vtr::tallySelections(m_children).isMixed()) m_selectedForSync = -1;
    }
    if (m_observer) m_observer->itemSelectionChanged(this);
    if (m_parent) m_parent->childChangedState();
}

void VtrITunesItem::setPodcastGroupSelectedForSync(int value)
{
    if (m_changingState) return;
    ChangeGuard guard(m_changingState);
    int result = value;
    if (value == 1 || value == 0) {
        for (const auto &child : m_children)
            child->setSelectedForSync(value);
    } else if (value == -1) {
        int marked = 0;
        for (const auto &child : m_children)
            if (child->autoSelected()) {
                child->setSelectedForSync(1);
                ++marked;
            }
        if (m_children.isEmpty() || marked == 0) {
            for (const auto &child : m_children)
                child->setSelectedForSync(1);
            result = 1;
        } else {
            result = marked == m_children.size() ? 1 : -1;
        }
    }
    storeSelection(result);
}

void VtrITunesItem::childChangedState()
{
    if (m_changingState) return;
    int on = 0;
    bool seenOn = false, seenOff = false, mixed = false;
    for (const auto &child : m_children) {
        int s = child->selectedForSync();
        if (m_isPodcastGroup && child->autoSelected() && s != 1) {
            child->setSelectedForSyncNoBroadcast(1);
            s = 1;
        }
        mixed |= s == -1;
        seenOn |= s == 1;
        seenOff |= s == 0;
        if (s == 1) ++on;
    }
    int result = (mixed || (seenOn && seenOff)) ? -1 : 0;
    if (!m_children.isEmpty() && on == m_children.size()) result = 1;
    if (result != m_selectedForSync) storeSelection(result);
}

bool VtrITunesItem::isInGroupMarkedForSyncing() const
{
    for (const QList<VtrITunesItem *> *groups : {&m_playlists, &m_artists, &m_albums, &m_genres})
        for (const VtrITunesItem *g : *groups)
            if (g->selectedForSync() != 0) return true;
    return false;
}

QList<VtrITunesItem *> VtrITunesItem::myGroupsMarkedForSyncing(bool onlyMarked) const
{
    QList<VtrITunesItem *> result;
    for (const QList<VtrITunesItem *> *groups : {&m_playlists, &m_artists, &m_albums, &m_genres})
        for (VtrITunesItem *g : *groups)
            if (!onlyMarked || g->selectedForSync() != 0) result.append(g);
    return result;
}

bool VtrITunesItem::willSync() const
{
    if (m_selectedForSync != 0) return true;
    if (!m_isTrack || isProtected()) return false;
    return isInGroupMarkedForSyncing();
}

void VtrITunesItem::setWillSync(int value)
{
    if (value == m_selectedForSync) return;
    if (m_isTrack && value == 0 && isInGroupMarkedForSyncing()) return;
    m_selectedForSync = value;
}

QString VtrITunesItem::syncInfoText() const
{
    if (!isSmartPlaylist()) return QString(QLatin1String(""));
    return (m_selectedForSync == 0
                ? vtrLocalized("Check the Smart Playlist \"%1\" to sync its contents to your device.")
                : vtrLocalized("Items in the Smart Playlist \"%1\" will be synced to your device."))
        .arg(name());
}
