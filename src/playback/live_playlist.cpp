#include "playback/live_playlist.h"

#include <QListWidget>
#include <algorithm>
#include <chrono>
#include <iterator>

#include "components/deck.h"
#include "playback/playlist_items.h"
#include "playback/playlist_merge.h"
#include "playback/playlist_navigation.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

namespace {
constexpr std::chrono::milliseconds kHeldRetry{50};
}

LivePlaylist::LivePlaylist(QListWidget* List4, SharedState& state, Deck& deck1,
                           const PlaylistNavigation& navigation, WindowRefresh& refresh,
                           ErrorSink& errors)
    : List4(List4),
      state(state),
      MediaPlayer1(deck1),
      navigation(navigation),
      refresh(refresh),
      folderWatch(errors, [this](FolderWatch::Listing&& listing) { take(std::move(listing)); }) {
    heldRetry.setSingleShot(true);
    heldRetry.setInterval(kHeldRetry);
    QObject::connect(&heldRetry, &QTimer::timeout, [this] {
        if (!held) return;
        FolderWatch::Listing listing = std::move(*held);
        held.reset();
        take(std::move(listing));
    });
}

void LivePlaylist::follow(const std::string& dir) {
    held.reset();
    folderWatch.watch(dir);
}

void LivePlaylist::stop() {
    held.reset();
    folderWatch.stop();
}

void LivePlaylist::take(FolderWatch::Listing&& listing) {
    if (held) {
        held->names = std::move(listing.names);
        std::move(listing.renames.begin(), listing.renames.end(),
                  std::back_inserter(held->renames));
    } else {
        held = std::move(listing);
    }
    // A skip under way walks the entries by their numbers: moving them would end it.
    if (navigation.skipping()) {
        heldRetry.start();
        return;
    }
    FolderWatch::Listing ready = std::move(*held);
    held.reset();
    apply(std::move(ready));
}

void LivePlaylist::apply(FolderWatch::Listing&& listing) {
    PlaylistPlace before;
    before.entries = playlistEntries(List4);
    before.trackNumber = state.TrackNumber;
    before.currentFile = state.CurrentFile;
    const QListWidgetItem* selected = List4->currentItem();
    if (selected && selected->isSelected()) before.selectedRow = List4->currentRow();

    const PlaylistPlace after = mergeListing(before, std::move(listing.names), listing.renames);
    state.TrackNumber = after.trackNumber;
    state.TrackCount = int(after.entries.size());
    state.CurrentFile = after.currentFile;
    if (after.entries != before.entries) {
        const QListWidgetItem* top = List4->itemAt(0, 0);
        const std::string topEntry = top ? playlistEntry(List4, List4->row(top)) : std::string();
        fillPlaylist(List4, after.entries);
        List4->setCurrentRow(after.selectedRow);
        const auto kept = std::find(after.entries.begin(), after.entries.end(), topEntry);
        if (kept != after.entries.end())
            List4->scrollToItem(List4->item(int(kept - after.entries.begin())),
                                QAbstractItemView::PositionAtTop);
    } else if (after.selectedRow != before.selectedRow) {
        List4->setCurrentRow(after.selectedRow);
    }
    // The watch cues the next entry near a track's end, but gives no cue to an empty playlist.
    if (state.TrackCount == 0) MediaPlayer1.cueNext("");
    if (after.currentFile != before.currentFile) refresh.UpdateForm1Once();  // the caption
}
