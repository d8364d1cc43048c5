#pragma once

#include <string>

#include "shared/settings_paths.h"

class SettingsWriter;

// Deck 1's crossfade at its playlist's automatic advance, kept in the settings file's
// [Crossfade] section (key Deck1: Off, or the seconds as one of the offered lengths). UI
// thread only.
class CrossfadeSettings {
public:
    CrossfadeSettings(SettingsPaths files, SettingsWriter& writer);

    // Seconds; 0 (the gapless join) when nothing, or anything but an offered length, was stored.
    double stored() const;
    // Hands the save to the writer; Off touches a file that never held a choice not at all.
    void store(double seconds);

    static constexpr double kOffered[] = {2, 4, 8};
    static const char* const kSection;

private:
    SettingsPaths files;
    SettingsWriter& writer;
};
