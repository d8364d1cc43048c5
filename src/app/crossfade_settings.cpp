#include "app/crossfade_settings.h"

#include "app/settings_value_write.h"
#include "app/settings_writer.h"
#include "shared/module1.h"

const char* const CrossfadeSettings::kSection = "Crossfade";

namespace {
const char* const kKey = "Deck1";

std::string textOf(double seconds) {
    for (double offered : CrossfadeSettings::kOffered)
        if (seconds == offered) return std::to_string(int(offered));
    return "Off";
}

double storedIn(const std::string& file) {
    std::string value;
    Module1::ReadIniValue(CrossfadeSettings::kSection, kKey, file, value);
    for (double offered : CrossfadeSettings::kOffered)
        if (value == textOf(offered)) return offered;
    return 0;
}
}  // namespace

CrossfadeSettings::CrossfadeSettings(SettingsPaths files, SettingsWriter& writer)
    : files(std::move(files)), writer(writer) {}

double CrossfadeSettings::stored() const {
    return storedIn(files.readFrom);
}

void CrossfadeSettings::store(double seconds) {
    auto save = [files = files, text = textOf(seconds)](std::string& error) {
        // Until the user's own file holds the key, a length kept in the start-up file would
        // come back at the next start.
        if (text == "Off" && !Module1::HasIniKey(kSection, kKey, files.writeTo) &&
            storedIn(files.readFrom) == 0)
            return true;
        return writeSettingsValue(files, kSection, kKey, text, error);
    };
    writer.write("[" + std::string(kSection) + "] " + kKey, std::move(save),
                 "Deck 1 crossfade not saved: ");
}
