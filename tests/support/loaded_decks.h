#pragma once

#include <memory>
#include <string>
#include <utility>

#include "components/error_sink.h"
#include "engine/player/mp3_deck.h"
#include "support/output_kinds.h"

// Two real decks on one real output, deck 1 loaded with `a` and deck 2 with `b`: what the
// tests of real sound start from.
struct LoadedDecks {
    LoadedDecks(ErrorSink& errors, const std::string& a, const std::string& b,
                OutputKind kind = OutputKind::Sdl)
        : LoadedDecks(errors, a, b, makeOutput(kind, errors)) {}
    LoadedDecks(ErrorSink& errors, const std::string& a, const std::string& b,
                std::unique_ptr<AudioOutput> chosen)
        : owned(std::move(chosen)),
          output(*owned),
          deck1(output, errors, "Deck 1"),
          deck2(output, errors, "Deck 2") {
        deck1.setFileName(a);
        deck2.setFileName(b);
    }
    std::unique_ptr<AudioOutput> owned;
    AudioOutput& output;
    Mp3Deck deck1;
    Mp3Deck deck2;
};
