#pragma once

#include <string>

#include "components/error_sink.h"
#include "engine/audio_output.h"
#include "engine/mp3_deck.h"

// Two real decks on one real output, deck 1 loaded with `a` and deck 2 with `b`: what the
// tests of real sound start from.
struct LoadedDecks {
    LoadedDecks(ErrorSink& errors, const std::string& a, const std::string& b)
        : output(errors), deck1(output, errors), deck2(output, errors) {
        deck1.setFileName(a);
        deck2.setFileName(b);
    }
    AudioOutput output;
    Mp3Deck deck1;
    Mp3Deck deck2;
};
