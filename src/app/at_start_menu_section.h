#pragma once

class QMenu;
class ResumeSettings;

// The part of deck 1's menu that says how the player starts: under a title of its own,
// "Fresh", "Resume paused" and "Resume playing", the current choice checked; a choice is saved
// at once.
class AtStartMenuSection {
public:
    explicit AtStartMenuSection(ResumeSettings& settings) : settings(settings) {}

    void addTo(QMenu& menu);

private:
    ResumeSettings& settings;
};
