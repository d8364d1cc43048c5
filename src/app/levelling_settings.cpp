#include "app/levelling_settings.h"

#include <algorithm>
#include <cassert>
#include <optional>

#include "app/settings_value_write.h"
#include "components/error_sink.h"
#include "engine/replay_gain.h"
#include "shared/module1.h"

const char* const LevellingSettings::kSection = "Levelling";

namespace {

std::string keyOf(int deckNumber) {
    assert(deckNumber == 1 || deckNumber == 2);
    return "Deck" + std::to_string(deckNumber);
}

const char* nameOf(Deck::Levelling mode) {
    switch (mode) {
        case Deck::Levelling::Track:
            return "Track";
        case Deck::Levelling::Album:
            return "Album";
        case Deck::Levelling::Off:
            break;
    }
    return "Off";
}

}  // namespace

LevellingSettings::LevellingSettings(SettingsPaths files, ErrorSink& errors)
    : files(std::move(files)), errors(errors) {
    std::string text;
    Module1::ReadIniValue(kSection, "Preamp", this->files.readFrom, text);
    preamp = parsePreamp(text);
}

double LevellingSettings::parsePreamp(const std::string& text) {
    // Read as a tag's gain is: a number that no gain could be is a slip, not a wish for +15.
    const std::optional<double> gainDb = ReplayGainText::gainDb(text);
    return gainDb ? std::clamp(*gainDb, -kMaxPreampDb, kMaxPreampDb) : 0.0;
}

Deck::Levelling LevellingSettings::stored(int deckNumber) const {
    std::string value;
    Module1::ReadIniValue(kSection, keyOf(deckNumber), files.readFrom, value);
    for (Deck::Levelling mode : {Deck::Levelling::Track, Deck::Levelling::Album})
        if (value == nameOf(mode)) return mode;
    return Deck::Levelling::Off;
}

void LevellingSettings::store(int deckNumber, Deck::Levelling mode) {
    const std::string key = keyOf(deckNumber);
    // The file the start-up values come from counts too: until the user's own file holds the
    // key, a choice kept there would come back at the next start.
    if (mode == Deck::Levelling::Off && !Module1::HasIniKey(kSection, key, files.writeTo) &&
        stored(deckNumber) == Deck::Levelling::Off)
        return;
    std::string why;
    if (!writeSettingsValue(files, kSection, key, nameOf(mode), why))
        errors.report("Deck " + std::to_string(deckNumber) + " levelling not saved: " + why);
}
