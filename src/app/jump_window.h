#pragma once

#include <QDialog>
#include <functional>

#include "playback/entry_filter.h"

class JumpMatches;
class QLineEdit;
class QListView;
class QListWidget;
class QTimer;

// "Jump to entry": a field above the playlist entries that hold every word typed. Up and Down
// choose among them; Return plays the chosen one on deck 1, Shift+Return on deck 2; Escape
// closes. Not modal, so that the tick goes on. UI thread only.
class JumpWindow : public QDialog {
    Q_OBJECT
public:
    struct Parts {
        QWidget* owner;                              // the main window
        QListWidget* playlist;                       // its entries, followed while open
        std::function<void(int trackNumber)> deck1;  // play the entry on deck 1
        std::function<void(int trackNumber)> deck2;  // load it into deck 2 and play it
    };
    explicit JumpWindow(Parts parts);

    // Opens with an empty query and every entry, or raises the window when it is open already.
    void showOrRaise();

    QLineEdit* queryField() const { return field; }
    QListView* matchList() const { return view; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The entries' texts folded anew, after the window opened or the playlist changed.
    void refold();
    // The rows for the query as it stands, the first one chosen.
    void refill();
    void playlistChanged();
    void choose(const std::function<void(int)>& deck);

    Parts parts;
    EntryFilter filter;
    JumpMatches* matches;
    QLineEdit* field;
    QListView* view;
    QTimer* refoldSoon;  // coalesces the playlist's changes into one refold
    bool stale = false;  // the playlist changed since the last fold
};
