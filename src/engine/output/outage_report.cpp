#include "engine/output/outage_report.h"

#include "components/error_sink.h"
#include "engine/deck/audio_source.h"

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

void OutageReport::goneWhileWaiting(const std::vector<std::string>& labels) {
    if (state != Told::Nothing || labels.empty()) return;
    std::string who;
    for (std::size_t i = 0; i < labels.size(); ++i)
        who += (i == 0 ? "" : i + 1 == labels.size() ? " and " : ", ") + labels[i];
    errors.report("The sound server went away while " + who +
                  (labels.size() == 1 ? " waited for its output" : " waited for their outputs"));
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
