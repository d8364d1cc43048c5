#include "app/output_settings.h"

#include <cassert>
#include <cstdint>
#include <filesystem>

#include "components/error_sink.h"
#include "shared/ini_lines.h"
#include "shared/module1.h"
#include "shared/safe_file.h"

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
    if (files.createWriteDirectory && !createParentDirectories(files.writeTo, why)) {
        errors.report(deck + " output not saved: " + why);
        return;
    }
    if (!startOwnFile(why)) {
        errors.report(deck + " output not saved: " + why);
        return;
    }
    int16_t status = 0;
    Module1::WriteIniValue(kSection, key, name, files.writeTo, status, &why);
    if (status == 0) errors.report(deck + " output not saved: " + why);
}

bool OutputSettings::startOwnFile(std::string& error) const {
    std::error_code ec;
    if (files.readFrom == files.writeTo || std::filesystem::exists(files.writeTo, ec) ||
        !std::filesystem::is_regular_file(files.readFrom, ec))
        return true;
    // Once the user's own file exists it is the one read at start; it must not come without
    // the values the other file gave, should the program end before it saves them.
    std::string text;
    return !SafeFile::readAll(files.readFrom, text, error) ||
           SafeFile::replace(files.writeTo, text, error);
}
