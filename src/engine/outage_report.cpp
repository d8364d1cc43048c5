#include "engine/outage_report.h"

#include "components/error_sink.h"
#include "engine/audio_source.h"

std::string playingNames(std::span<AudioSource* const> sources) {
    std::string names;
    for (const AudioSource* source : sources) {
        if (!source) continue;
        const std::string name = source->playingName();
        if (!name.empty()) names += (names.empty() ? "" : " and ") + name;
    }
    return names;
}

void OutageReport::lost(const std::string& names) {
    if (state != Told::Nothing) return;
    errors.report(names.empty() ? "Sound output lost" : "Sound output lost while playing " + names);
    state = Told::Loss;
}

void OutageReport::noOutput(const std::string& cause) {
    if (state != Told::Nothing) return;
    errors.report("No sound output: " + cause);
    state = Told::Failure;
}

void OutageReport::back() {
    if (state == Told::Nothing) return;
    errors.report("Sound output is back");
    state = Told::Nothing;
}
