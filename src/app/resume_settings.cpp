#include "app/resume_settings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/settings_value_write.h"
#include "app/settings_writer.h"
#include "shared/ini_lines.h"
#include "shared/module1.h"
#include "shared/safe_file.h"

const char* const ResumeSettings::kSection = "Resume";

namespace {

constexpr const char* kAtStart = "AtStart";
constexpr const char* kDeck1Folder = "Deck1Folder";
constexpr const char* kDeck1Entry = "Deck1Entry";
constexpr const char* kDeck1File = "Deck1File";
constexpr const char* kDeck1Position = "Deck1Position";
constexpr const char* kDeck1Played = "Deck1Played";
constexpr const char* kDeck2File = "Deck2File";
constexpr const char* kDeck2Position = "Deck2Position";

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// Seconds, whole text only: "20.5", not "20.5 s", nor a sign, nor what no track could last.
double secondsFrom(const std::string& text) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds, std::chars_format::fixed);
    if (error != std::errc() || stop != end || !std::isfinite(seconds) || seconds < 0) return 0;
    return seconds;
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

}  // namespace

ResumeSettings::ResumeSettings(SettingsPaths files, SettingsWriter& writer)
    : files(std::move(files)), writer(writer) {
    std::string text;
    Module1::ReadIniValue(kSection, kAtStart, this->files.readFrom, text);
    choice = atStartFrom(text);
}

const char* ResumeSettings::nameOf(AtStart mode) {
    switch (mode) {
        case AtStart::ResumePaused:
            return "Paused";
        case AtStart::ResumePlaying:
            return "Playing";
        case AtStart::Fresh:
            break;
    }
    return "Fresh";
}

AtStart ResumeSettings::atStartFrom(const std::string& text) {
    for (AtStart mode : {AtStart::ResumePaused, AtStart::ResumePlaying})
        if (text == nameOf(mode)) return mode;
    return AtStart::Fresh;
}

void ResumeSettings::choose(AtStart mode) {
    choice = mode;
    auto save = [files = files, mode](std::string& error) {
        // The file the start-up values come from counts too, as for every other choice.
        if (mode == AtStart::Fresh && !Module1::HasIniKey(kSection, kAtStart, files.writeTo)) {
            std::string stored;
            Module1::ReadIniValue(kSection, kAtStart, files.readFrom, stored);
            if (atStartFrom(stored) == AtStart::Fresh) return true;
        }
        return writeSettingsValue(files, kSection, kAtStart, nameOf(mode), error);
    };
    writer.write("[" + std::string(kSection) + "] " + kAtStart, std::move(save),
                 "The choice at start not saved: ");
}

ResumeSettings::Values ResumeSettings::valuesOf(const ResumePoint& point) {
    return {
        {kDeck1Folder, point.deck1Folder},
        {kDeck1Entry, point.deck1Entry},
        {kDeck1File, point.deck1File},
        {kDeck1Position, secondsText(point.deck1Position)},
        {kDeck1Played, point.deck1Played ? "Yes" : "No"},
        {kDeck2File, point.deck2File},
        {kDeck2Position, secondsText(point.deck2Position)},
    };
}

ResumePoint ResumeSettings::pointFrom(
    const std::function<std::string(const std::string&)>& valueOf) {
    ResumePoint point;
    const std::string file = valueOf(kDeck1File);
    std::string folder = valueOf(kDeck1Folder);
    const std::string entry = valueOf(kDeck1Entry);
    if (isAbsolute(file)) {
        point.deck1File = file;
    } else if (isAbsolute(folder) && !entry.empty() && entry.find('/') == std::string::npos) {
        if (folder.back() != '/') folder += '/';
        point.deck1Folder = folder;
        point.deck1Entry = entry;
    }
    if (point.deck1Held()) {
        point.deck1Position = secondsFrom(valueOf(kDeck1Position));
        point.deck1Played = valueOf(kDeck1Played) == "Yes";
    }
    if (const std::string deck2 = valueOf(kDeck2File); isAbsolute(deck2)) {
        point.deck2File = deck2;
        point.deck2Position = secondsFrom(valueOf(kDeck2Position));
    }
    return point;
}

ResumePoint ResumeSettings::storedPoint() const {
    std::string text, ignored;
    std::error_code ec;
    // Read once for all keys; a file that cannot be read holds no point.
    if (!std::filesystem::is_regular_file(files.readFrom, ec) ||
        !SafeFile::readAll(files.readFrom, text, ignored))
        text.clear();
    return pointFrom([&text](const std::string& key) {
        return IniLines::valueOf(text, kSection, key).value_or("");
    });
}

void ResumeSettings::storePoint(const ResumePoint& point) {
    auto save = [files = files, values = valuesOf(point)](std::string& error) {
        return writeSettingsValues(files, kSection, values, error);
    };
    writer.write("[" + std::string(kSection) + "] point", std::move(save),
                 "Where the decks were not saved: ");
}
