#include "app/output_settings.h"

#include <cassert>

#include "app/settings_value_write.h"
#include "app/settings_writer.h"
#include "components/error_sink.h"
#include "shared/ini_lines.h"
#include "shared/module1.h"

const char* const OutputSettings::kSection = "Outputs";

namespace {
std::string keyOf(int deckNumber) {
    assert(deckNumber == 1 || deckNumber == 2);
    return "Deck" + std::to_string(deckNumber);
}

std::string storedIn(const std::string& file, const std::string& key) {
    std::string value;
    Module1::ReadIniValue(OutputSettings::kSection, key, file, value);
    return value;
}
}  // namespace

OutputSettings::OutputSettings(SettingsPaths files, SettingsWriter& writer, ErrorSink& errors)
    : files(std::move(files)), writer(writer), errors(errors) {}

std::string OutputSettings::stored(int deckNumber) const {
    return storedIn(files.readFrom, keyOf(deckNumber));
}

void OutputSettings::store(int deckNumber, const std::string& name) {
    const std::string key = keyOf(deckNumber);
    const std::string deck = "Deck " + std::to_string(deckNumber);
    const std::string why = IniLines::whyUnstorable(kSection, key, name);
    if (!why.empty()) {
        errors.report(deck +
                      " output plays there for this run only, the settings cannot keep it: " + why);
        return;
    }
    auto save = [files = files, key, name](std::string& error) {
        // The file the start-up values come from counts too: until the user's own file holds
        // the key, a choice kept there would come back at the next start.
        if (name.empty() && !Module1::HasIniKey(kSection, key, files.writeTo) &&
            storedIn(files.readFrom, key).empty())
            return true;
        return writeSettingsValue(files, kSection, key, name, error);
    };
    writer.write("[" + std::string(kSection) + "] " + key, std::move(save),
                 deck + " output not saved: ");
}
