#pragma once

#include <string>

#include "shared/settings_paths.h"

class ErrorSink;
class QComboBox;
class QScrollBar;
class QWidget;
struct SharedState;

// Reads the settings file at the first activation and writes it at unload.
class SettingsLifecycle {
public:
    struct Controls {
        QWidget* Form1;
        QComboBox* Combo1;
        QScrollBar* VScroll1;  // master
        QScrollBar* VScroll2;  // wave
    };
    SettingsLifecycle(Controls controls, SharedState& state, SettingsPaths files,
                      ErrorSink& errors);

    void Form_Activate();
    // Writes the three values; the caller then ends the program.
    void Form_Unload();

    static const char* const kTitleLine;

private:
    Controls ui;
    SharedState& state;
    SettingsPaths files;
    ErrorSink& errors;
};
