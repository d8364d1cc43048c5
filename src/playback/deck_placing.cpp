#include "playback/deck_placing.h"

#include "components/deck.h"

void placeDeck(Deck& deck, const std::string& path, double position, ResumeAs as) {
    deck.setFileName(path);
    switch (as) {
        case ResumeAs::Paused:
            deck.pauseAt(position);
            return;
        case ResumeAs::Playing:
            if (position > 0) deck.seek(position);
            deck.play();
            return;
    }
}

PlayerState stateWordOf(int playState) {
    switch (playState) {
        case Deck::Playing:
            return PlayerState::Playing;
        case Deck::Paused:
            return PlayerState::Paused;
        default:
            return PlayerState::Stopped;
    }
}
