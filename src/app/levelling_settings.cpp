#include "app/levelling_settings.h"

#include <algorithm>
#include <cassert>
#include <optional>

#include "app/settings_value_write.h"
#include "app/settings_writer.h"
#include "engine/loudness/replay_gain.h"
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

Deck::Levelling storedIn(const std::string& file, const std::string& key) {
    std::string value;
    Module1::ReadIniValue(LevellingSettings::kSection, key, file, value);
    for (Deck::Levelling mode : {Deck::Levelling::Track, Deck::Levelling::Album})
        if (value == nameOf(mode)) return mode;
    return Deck::Levelling::Off;
}

}  // namespace

LevellingSettings::LevellingSettings(SettingsPaths files, SettingsWriter& writer)
    : files(std::move(files)), writer(writer) {
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
    return storedIn(files.readFrom, keyOf(deckNumber));
}

void LevellingSettings::store(int deckNumber, Deck::Levelling mode) {
    const std::string key = keyOf(deckNumber);
    auto save = [files = files, key, mode](std::string& error) {
        // The file the start-up values come from counts too: until the user's own file holds
        // the key, a choice kept there would come back at the next start.
        if (mode == Deck::Levelling::Off && !Module1::HasIniKey(kSection, key, files.writeTo) &&
            storedIn(files.readFrom, key) == Deck::Levelling::Off)
            return true;
        return writeSettingsValue(files, kSection, key, nameOf(mode), error);
    };
    writer.write("[" + std::string(kSection) + "] " + key, std::move(save),
                 "Deck " + std::to_string(deckNumber) + " levelling not saved: ");
}
