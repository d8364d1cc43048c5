#include "app/output_settings.h"

#include <cassert>

#include "app/settings_value_write.h"
#include "components/error_sink.h"
#include "shared/ini_lines.h"
#include "shared/module1.h"

const char* const OutputSettings::kSection = "Outputs";

namespace {
std::string keyOf(int deckNumber) {
    assert(deckNumber == 1 || deckNumber == 2);
    return "Deck" + std::to_string(deckNumber);
}
}  // namespace

OutputSettings::OutputSettings(SettingsPaths files, ErrorSink& errors)
    : files(std::move(files)), errors(errors) {}

std::string OutputSettings::stored(int deckNumber) const {
    std::string value;
    Module1::ReadIniValue(kSection, keyOf(deckNumber), files.readFrom, value);
    return value;
}

void OutputSettings::store(int deckNumber, const std::string& name) {
    const std::string key = keyOf(deckNumber);
    const std::string deck = "Deck " + std::to_string(deckNumber);
    // The file the start-up values come from counts too: until the user's own file holds the
    // key, a choice kept there would come back at the next start.
    if (name.empty() && !Module1::HasIniKey(kSection, key, files.writeTo) &&
        stored(deckNumber).empty())
        return;
    std::string why = IniLines::whyUnstorable(kSection, key, name);
    if (!why.empty()) {
        errors.report(deck +
                      " output plays there for this run only, the settings cannot keep it: " + why);
        return;
    }
    if (!writeSettingsValue(files, kSection, key, name, why))
        errors.report(deck + " output not saved: " + why);
}
