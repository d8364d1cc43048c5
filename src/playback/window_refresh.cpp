#include "playback/window_refresh.h"

#include <QLabel>
#include <QListWidget>
#include <QWidget>

#include "components/deck.h"
#include "shared/file_name_text.h"
#include "shared/shared_state.h"
#include "shared/widget_text.h"

namespace {
// Any other play state leaves the label as it was.
void showStateWord(QLabel* label, int playState) {
    switch (playState) {
        case Deck::Playing:
            setTextIfChanged(label, "Playing");
            break;
        case Deck::Paused:
            setTextIfChanged(label, "Paused");
            break;
        case Deck::Stopped:
            setTextIfChanged(label, "Stopped");
            break;
        default:
            break;
    }
}
}  // namespace

WindowRefresh::WindowRefresh(Controls controls, const SharedState& state, Deck& deck1, Deck& deck2)
    : ui(controls), state(state), MediaPlayer1(deck1), MediaPlayer2(deck2) {}

void WindowRefresh::UpdateForm1Once() {
    ui.List2->clear();
    setTextIfChanged(ui.Label2, fileNameText(MediaPlayer1.fileName()));
    setTextIfChanged(ui.Label11, fileNameText(MediaPlayer2.fileName()));
    showStateWord(ui.Label19, MediaPlayer1.playState());
    showStateWord(ui.Label14, MediaPlayer2.playState());
    ui.Form1->setWindowTitle(QString::fromUtf8(kCaptionPrefix) + fileNameText(state.CurrentFile));
}

void WindowRefresh::showDeck1State() {
    showStateWord(ui.Label19, MediaPlayer1.playState());
}
