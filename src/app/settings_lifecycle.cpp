#include "app/settings_lifecycle.h"

#include <QComboBox>
#include <QScrollBar>
#include <QWidget>

#include "app/settings_conversions.h"
#include "components/error_sink.h"
#include "shared/module1.h"
#include "shared/shared_state.h"

const char* const SettingsLifecycle::kTitleLine = "Velmor´s MP3-Player  (c) Velmor";

namespace {
constexpr const char* kSection = "System";
}

SettingsLifecycle::SettingsLifecycle(Controls controls, SharedState& state, SettingsPaths files,
                                     ErrorSink& errors)
    : ui(controls), state(state), files(std::move(files)), errors(errors) {}

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
    std::string why;
    if (files.createWriteDirectory && !createParentDirectories(files.writeTo, why)) {
        errors.report("Settings not saved: " + why);
        return;
    }
    auto write = [&](const char* key, const std::string& value) {
        int16_t status = 0;
        Module1::WriteIniValue(kSection, key, value, files.writeTo, status, &why);
        if (status == 0) errors.report("Settings not saved: " + why);
        return status != 0;
    };
    // A run without "Play Dir" keeps the stored directory; a file without one gets the
    // directory read at start-up, empty on a first run.
    if (!state.PlaylistDir.empty()) {
        if (!write("Data-Path", state.PlaylistDir)) return;
    } else if (!Module1::HasIniKey(kSection, "Data-Path", files.writeTo)) {
        if (!write("Data-Path", state.DataPath)) return;
    }
    if (!write("WaveVolume", positionToStoredVolume(ui.VScroll2->value()))) return;
    write("MainVolume", positionToStoredVolume(ui.VScroll1->value()));
}
