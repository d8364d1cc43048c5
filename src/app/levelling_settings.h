#pragma once

#include <string>

#include "components/deck.h"
#include "shared/settings_paths.h"

class SettingsWriter;

// The loudness levelling each deck was given by the user, kept in the settings file's
// [Levelling] section (keys Deck1, Deck2: Off, Track or Album), and the pre-amp the user may
// write there (Preamp, in dB), which the window only reads. UI thread only.
class LevellingSettings {
public:
    // Reads the pre-amp once: the menu's choices must not wait on the file.
    LevellingSettings(SettingsPaths files, SettingsWriter& writer);

    // deckNumber 1 or 2. Off when nothing, or anything but a mode's name, was stored.
    Deck::Levelling stored(int deckNumber) const;
    // Hands the save to the writer. Off touches a file that never held a choice not at all. A
    // failed save is reported once it fails.
    void store(int deckNumber, Deck::Levelling mode);
    double preampDb() const { return preamp; }

    // "-3.5", "+2 dB": within ±15 dB, clamped to it beyond; 0 for what is not a gain at all.
    static double parsePreamp(const std::string& text);
    static constexpr double kMaxPreampDb = 15.0;

    static const char* const kSection;

private:
    SettingsPaths files;
    SettingsWriter& writer;
    double preamp = 0;
};
