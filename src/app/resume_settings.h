#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "playback/resume_point.h"
#include "shared/settings_paths.h"

class SettingsWriter;

// How the player starts, and where both decks were when it last ended, kept in the settings
// file's [Resume] section: AtStart (Fresh, Paused or Playing) as the user chose it, and the
// point, written whole at each end while a resume is chosen. UI thread only.
class ResumeSettings {
public:
    using Values = std::vector<std::pair<std::string, std::string>>;

    // Reads the choice once: the menu must not wait on the file.
    ResumeSettings(SettingsPaths files, SettingsWriter& writer);

    AtStart atStart() const { return choice; }
    // Hands the save to the writer. Fresh touches a file that never held a choice not at all.
    void choose(AtStart mode);

    // The point stored, read from the file now. Read where a resume is to start only.
    ResumePoint storedPoint() const;
    // All its keys in one save, so that no start ever reads half of one point and half of
    // another.
    void storePoint(const ResumePoint& point);

    // The keys and values `point` is stored as, in the order they are written.
    static Values valuesOf(const ResumePoint& point);
    // The point that `valueOf` (a key's stored text, "" where missing) describes. What is not
    // a point's value reads as nothing: a relative path as no file, a position that is not a
    // number of seconds as 0.
    static ResumePoint pointFrom(const std::function<std::string(const std::string&)>& valueOf);
    // The choice `text` names; Fresh for anything else.
    static AtStart atStartFrom(const std::string& text);
    static const char* nameOf(AtStart mode);

    static const char* const kSection;

private:
    SettingsPaths files;
    SettingsWriter& writer;
    AtStart choice = AtStart::Fresh;
};
