#pragma once

class Deck;
class QLabel;
class QListWidget;
class QWidget;
struct SharedState;

// Shows which file each deck holds, each deck's state, and the current entry in the caption.
class WindowRefresh {
public:
    struct Controls {
        QWidget* Form1;
        QListWidget* List2;
        QLabel* Label2;
        QLabel* Label11;
        QLabel* Label19;
        QLabel* Label14;
    };
    WindowRefresh(Controls controls, const SharedState& state, Deck& deck1, Deck& deck2);

    void UpdateForm1Once();
    // Deck 1's state word again, once a step that refreshed the window before starting the
    // deck has started it: the window must not say "Stopped" over the music.
    void showDeck1State();

    static constexpr const char* kCaptionPrefix = "Velmor´s MP3-Player - ";

private:
    Controls ui;
    const SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
};
