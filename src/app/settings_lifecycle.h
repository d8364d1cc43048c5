#pragma once

#include <string>

#include "shared/settings_paths.h"

class QComboBox;
class QScrollBar;
class QWidget;
class SettingsWriter;
struct SharedState;

// Reads the settings file at the first activation and writes it at unload. UI thread only.
class SettingsLifecycle {
public:
    struct Controls {
        QWidget* Form1;
        QComboBox* Combo1;
        QScrollBar* VScroll1;  // master
        QScrollBar* VScroll2;  // wave
    };
    SettingsLifecycle(Controls controls, SharedState& state, SettingsPaths files,
                      SettingsWriter& writer);

    void Form_Activate();
    // Hands the three values to the writer, behind the saves queued before; the caller waits
    // for them, then ends the program.
    void Form_Unload();

    static const char* const kTitleLine;

private:
    Controls ui;
    SharedState& state;
    SettingsPaths files;
    SettingsWriter& writer;
};
