#include "engine/player/level_follower.h"

#include <cmath>
#include <optional>
#include <tuple>

#include "engine/loudness/loudness_service.h"

void LevelFollower::use(LoudnessService& loudness) {
    service = &loudness;
    deck = loudness.enrol();
}

void LevelFollower::choose(LevellingMode wanted, double preamp) {
    mode = service ? wanted : LevellingMode::Off;
    preampDb = std::isfinite(preamp) ? preamp : 0.0;
}

void LevelFollower::ask(const std::string& file, bool urgent) {
    if (mode != LevellingMode::Off) service->request(file, mode, urgent, deck);
}

std::pair<double, bool> LevelFollower::levelOf(const std::string& file) const {
    if (mode == LevellingMode::Off || file.empty()) return {1.0, true};
    if (const std::optional<double> known = service->gain(file, mode, preampDb))
        return {*known, true};
    return {service->guess(file, mode, preampDb), false};
}

void LevelFollower::aim(const std::string& playing, const std::string& cuedFile, bool glide,
                        bool sounding) {
    if (mode != LevellingMode::Off)
        resultsSeen = service->results();  // read before the looks: nothing slips between
    const auto [level, known] = levelOf(playing);
    playingKnown = known;
    std::tie(cued, cuedKnown) = levelOf(cuedFile);
    targetDb = 20.0 * std::log10(level);
    if (!glide || !sounding) {
        stepDb = 0;
        levelDb = targetDb;
        return;
    }
    stepDb = (targetDb - levelDb) / kGlideTicks;
}

bool LevelFollower::step(const std::string& playing, const std::string& cuedFile, bool sounding) {
    bool changed = false;
    if ((!playingKnown || !cuedKnown) && service->results() != resultsSeen) {
        aim(playing, cuedFile, true, sounding);
        changed = true;
    }
    if (levelDb == targetDb) return changed;
    const double next = levelDb + stepDb;
    const bool overshot = stepDb == 0 || (stepDb > 0 ? next >= targetDb : next <= targetDb);
    // A deck that does not sound has nothing to fade: it takes its level at once.
    levelDb = overshot || !sounding ? targetDb : next;
    return true;
}

DeckStream::Levels LevelFollower::levels() const {
    return {static_cast<float>(std::pow(10.0, levelDb / 20.0)), static_cast<float>(cued)};
}
