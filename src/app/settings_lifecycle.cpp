#include "app/settings_lifecycle.h"

#include <QComboBox>
#include <QScrollBar>
#include <QWidget>

#include "app/settings_conversions.h"
#include "app/settings_value_write.h"
#include "app/settings_writer.h"
#include "shared/module1.h"
#include "shared/shared_state.h"

const char* const SettingsLifecycle::kTitleLine = "Velmor´s MP3-Player  (c) Velmor";

namespace {
constexpr const char* kSection = "System";
}

SettingsLifecycle::SettingsLifecycle(Controls controls, SharedState& state, SettingsPaths files,
                                     SettingsWriter& writer)
    : ui(controls), state(state), files(std::move(files)), writer(writer) {}

void SettingsLifecycle::Form_Activate() {
    if (state.AlreadyActivated) return;
    ui.Combo1->setEditText(ui.Combo1->count() > 0 ? ui.Combo1->itemText(0) : QString());
    ui.Form1->setWindowTitle(QString::fromUtf8(kTitleLine));
    state.AlreadyActivated = true;

    std::string value;
    Module1::ReadIniValue(kSection, "Data-Path", files.readFrom, value);
    state.DataPath = value;
    Module1::ReadIniValue(kSection, "WaveVolume", files.readFrom, value);
    ui.VScroll2->setValue(storedVolumeToPosition(value));
    Module1::ReadIniValue(kSection, "MainVolume", files.readFrom, value);
    ui.VScroll1->setValue(storedVolumeToPosition(value));
}

void SettingsLifecycle::Form_Unload() {
    auto write = [this](const char* key, const std::string& value, bool unlessKept) {
        auto save = [files = files, key, value, unlessKept](std::string& error) {
            if (unlessKept && Module1::HasIniKey(kSection, key, files.writeTo)) return true;
            return writeSettingsValue(files, kSection, key, value, error);
        };
        writer.write("[" + std::string(kSection) + "] " + key, std::move(save),
                     "Settings not saved: ");
    };
    // A run without "Play Dir" keeps the stored directory; a file without one gets the
    // directory read at start-up, empty on a first run.
    if (!state.PlaylistDir.empty())
        write("Data-Path", state.PlaylistDir, false);
    else
        write("Data-Path", state.DataPath, true);
    write("WaveVolume", positionToStoredVolume(ui.VScroll2->value()), false);
    write("MainVolume", positionToStoredVolume(ui.VScroll1->value()), false);
}
