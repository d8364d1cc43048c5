#pragma once

#include <string>

#include "shared/settings_paths.h"

class ErrorSink;
class SettingsWriter;

// The output each deck was given by the user, kept by its name in the settings file's
// [Outputs] section (keys Deck1, Deck2), so that the next start plays where this one did.
// UI thread only.
class OutputSettings {
public:
    OutputSettings(SettingsPaths files, SettingsWriter& writer, ErrorSink& errors);

    // deckNumber 1 or 2. "" when nothing was chosen, or the desktop's default was.
    std::string stored(int deckNumber) const;
    // Hands the save to the writer. "" (the desktop's default) touches a file that never held a
    // choice not at all. A name the file cannot give back as it is is reported at once, a failed
    // save once it fails.
    void store(int deckNumber, const std::string& name);

    static const char* const kSection;

private:
    SettingsPaths files;
    SettingsWriter& writer;
    ErrorSink& errors;
};
