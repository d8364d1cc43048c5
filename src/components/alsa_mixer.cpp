#include "components/alsa_mixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "components/error_sink.h"
#include "components/mixer_events.h"

namespace {

constexpr int32_t kLevelMax = 65535;
// The classic mixer interface kept short line names to this many characters.
constexpr std::size_t kShortNameChars = 16;

std::string alsaError(int err) {
    return snd_strerror(err);
}

int32_t clampToInt32(long v) {
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

std::string cardName(int card) {
    char* name = nullptr;
    if (snd_card_get_name(card, &name) < 0 || !name) return "hw:" + std::to_string(card);
    std::string result = name;
    std::free(name);
    return result;
}

// The name the control reports for its card, e.g. "PulseAudio" behind "default".
std::string controlCardName(snd_mixer_t* handle, const std::string& device) {
    snd_hctl_t* hctl = nullptr;
    if (snd_mixer_get_hctl(handle, device.c_str(), &hctl) < 0 || !hctl) return "";
    snd_ctl_card_info_t* info = nullptr;
    if (snd_ctl_card_info_malloc(&info) < 0) return "";
    std::string name;
    if (snd_ctl_card_info(snd_hctl_ctl(hctl), info) >= 0) name = snd_ctl_card_info_get_name(info);
    snd_ctl_card_info_free(info);
    return name;
}

bool allChannelsAt(snd_mixer_elem_t* elem, long raw) {
    bool any = false;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (!snd_mixer_selem_has_playback_channel(elem, channel)) continue;
        long v = 0;
        if (snd_mixer_selem_get_playback_volume(elem, channel, &v) < 0 || v != raw) return false;
        any = true;
    }
    return any;
}

}  // namespace

std::string AlsaMixer::knownDevice(const std::string& elementName) {
    if (elementName == "Master") return "MasterVolume";
    if (elementName == "PCM") return "WaveOutput";
    if (elementName == "Bass") return "Bass";
    if (elementName == "Treble") return "Treble";
    return "";
}

long AlsaMixer::rawFromPercent(double percent, long min, long max) {
    const double fraction = std::clamp(percent, 0.0, 100.0) / 100.0;
    return min + std::lround(fraction * static_cast<double>(max - min));
}

int32_t AlsaMixer::levelFromRaw(long raw, long min, long max) {
    if (max <= min) return 0;
    const double fraction = static_cast<double>(raw - min) / static_cast<double>(max - min);
    return static_cast<int32_t>(std::clamp<long>(std::lround(fraction * kLevelMax), 0, kLevelMax));
}

void AlsaMixer::MixerCloser::operator()(_snd_mixer* handle) const {
    snd_mixer_close(handle);
}

// alsa-lib prints its own diagnostics on standard error for every device it cannot open;
// the player reports the causes that matter itself, once, in words the user can act on.
static void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

AlsaMixer::AlsaMixer(ErrorSink& errors, std::vector<std::string> devices)
    : errors(errors), wanted(std::move(devices)) {
    snd_lib_error_set_handler(&silentAlsaErrors);
}

AlsaMixer::~AlsaMixer() {
    // Closing a mixer raises remove events for its elements, which look into the lines.
    lines.clear();
    mixers.clear();
}

std::vector<std::pair<std::string, int>> AlsaMixer::devicesToOpen() const {
    std::vector<std::pair<std::string, int>> devices;
    if (!wanted.empty()) {
        for (const auto& d : wanted) devices.emplace_back(d, -1);
        return devices;
    }
    int card = -1;
    while (snd_card_next(&card) >= 0 && card >= 0)
        devices.emplace_back("hw:" + std::to_string(card), card);
    devices.emplace_back("default", -1);
    return devices;
}

void AlsaMixer::prepareMixer() {
    // Once prepared, the device numbers handed out stay valid: no reload.
    if (mixerReady()) return;
    lines.clear();
    std::vector<std::string> failures;
    for (const auto& [device, card] : devicesToOpen()) openMixer(device, card, failures);
    if (mixers.empty())
        failures.push_back("No sound mixer could be opened; volume and tone controls do nothing.");
    reportNew(failures);
}

std::unique_ptr<_snd_mixer, AlsaMixer::MixerCloser> AlsaMixer::loadMixer(const std::string& device,
                                                                         std::string& cause) {
    snd_mixer_t* raw = nullptr;
    int err = snd_mixer_open(&raw, 0);
    if (err < 0) {
        cause = "could not be created: " + alsaError(err);
        return nullptr;
    }
    std::unique_ptr<_snd_mixer, MixerCloser> handle(raw);
    const char* step = "opened";
    if ((err = snd_mixer_attach(raw, device.c_str())) >= 0) {
        step = "registered";
        if ((err = snd_mixer_selem_register(raw, nullptr, nullptr)) >= 0) {
            step = "loaded";
            err = snd_mixer_load(raw);
        }
    }
    if (err < 0) {
        cause = std::string("could not be ") + step + ": " + alsaError(err);
        return nullptr;
    }
    return handle;
}

void AlsaMixer::openMixer(const std::string& device, int card, std::vector<std::string>& failures) {
    std::string cause;
    auto handle = loadMixer(device, cause);
    if (!handle) {
        failures.push_back("Mixer " + device + " " + cause);
        return;
    }
    snd_mixer_t* raw = handle.get();
    OpenMixer mixer{std::move(handle), device, device, card};
    if (card >= 0) {
        mixer.name = cardName(card);
    } else if (auto name = controlCardName(raw, device); !name.empty() && name != device) {
        mixer.name = device + " (" + name + ")";
    }

    const std::size_t position = mixers.size();
    for (snd_mixer_elem_t* elem = snd_mixer_first_elem(raw); elem;
         elem = snd_mixer_elem_next(elem)) {
        if (!snd_mixer_selem_has_playback_volume(elem)) continue;
        Line l;
        l.elem = elem;
        l.mixer = position;
        l.name = snd_mixer_selem_get_name(elem);
        l.index = static_cast<int32_t>(snd_mixer_selem_get_index(elem));
        if (snd_mixer_selem_get_playback_volume_range(elem, &l.min, &l.max) < 0) l.max = l.min;
        watchElement(elem);
        lines.push_back(std::move(l));
    }
    mixers.push_back(std::move(mixer));
}

void AlsaMixer::watchElement(_snd_mixer_elem* elem) {
    // A card that goes away removes its elements inside snd_mixer_handle_events.
    snd_mixer_elem_set_callback_private(elem, this);
    snd_mixer_elem_set_callback(elem, &AlsaMixer::elementEvent);
}

void AlsaMixer::reportNew(const std::vector<std::string>& failures) {
    for (const auto& f : failures)
        if (std::find(lastFailures.begin(), lastFailures.end(), f) == lastFailures.end())
            errors.report(f);
    lastFailures = failures;
}

void AlsaMixer::ensurePrepared() {
    if (!mixerReady()) prepareMixer();
}

void AlsaMixer::enumerationStep1() {
    ensurePrepared();
    for (std::size_t i = 0; i < mixers.size(); ++i) {
        if (!events) return;
        events->ReturnMixersInTheSystem(mixers[i].name, static_cast<int16_t>(mixers[i].card),
                                        static_cast<int16_t>(i + 1), SND_LIB_VERSION);
    }
}

void AlsaMixer::enumerationStep2() {
    ensurePrepared();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!events) return;
        const Line& l = lines[i];
        events->ReturnDevicesAvailable(
            l.name, l.name.substr(0, kShortNameChars), knownDevice(l.name), l.index,
            static_cast<int32_t>(l.mixer + 1), static_cast<int32_t>(i + 1), clampToInt32(l.max));
    }
}

AlsaMixer::Line* AlsaMixer::line(int32_t deviceNumber) {
    if (deviceNumber < 1 || static_cast<std::size_t>(deviceNumber) > lines.size()) return nullptr;
    Line* l = &lines[static_cast<std::size_t>(deviceNumber) - 1];
    // Pending events may remove the element (card unplugged) or change its value.
    if (!refresh(l->mixer) || !l->elem) return nullptr;
    return l;
}

bool AlsaMixer::refresh(std::size_t position) {
    OpenMixer& mixer = mixers[position];
    if (mixer.failed) return reopen(position);
    // The mixer's controls are non-blocking: this only takes what is already queued.
    const int err = snd_mixer_handle_events(mixer.handle.get());
    if (err >= 0) return true;
    // A sound server that restarted leaves the old connection broken: a new one finds it.
    if (reopen(position)) return true;
    markFailed(position, err);
    return false;
}

void AlsaMixer::markFailed(std::size_t position, int err) {
    OpenMixer& mixer = mixers[position];
    if (mixer.failed) return;
    mixer.failed = true;
    errors.report("Mixer " + mixer.name + " stopped answering: " + alsaError(err));
}

bool AlsaMixer::reopen(std::size_t position) {
    OpenMixer& mixer = mixers[position];
    const auto now = std::chrono::steady_clock::now();
    if (now - mixer.lastAttempt < std::chrono::seconds(1)) return false;
    mixer.lastAttempt = now;
    std::string cause;
    auto handle = loadMixer(mixer.device, cause);
    if (!handle) return false;
    for (Line& l : lines) {
        if (l.mixer != position) continue;
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, l.name.c_str());
        snd_mixer_selem_id_set_index(id, static_cast<unsigned>(l.index));
        l.elem = snd_mixer_find_selem(handle.get(), id);
        if (!l.elem) continue;
        if (snd_mixer_selem_get_playback_volume_range(l.elem, &l.min, &l.max) < 0) l.max = l.min;
        watchElement(l.elem);
    }
    // The old handle's elements are gone with it; their remove events find no line now.
    mixer.handle = std::move(handle);
    mixer.failed = false;
    return true;
}

int AlsaMixer::elementEvent(_snd_mixer_elem* elem, unsigned int mask) {
    if (mask == SND_CTL_EVENT_MASK_REMOVE)
        static_cast<AlsaMixer*>(snd_mixer_elem_get_callback_private(elem))->forgetElement(elem);
    return 0;
}

void AlsaMixer::forgetElement(_snd_mixer_elem* elem) {
    for (auto& l : lines)
        if (l.elem == elem) l.elem = nullptr;
}

bool AlsaMixer::setLineLevel(int32_t deviceNumber, float percent) {
    if (!std::isfinite(percent)) return false;
    Line* l = line(deviceNumber);
    if (!l) return false;
    const long raw = rawFromPercent(percent, l->min, l->max);
    // A write costs round trips to the sound server (about 8 ms through the pulse plugin) and
    // a slider drag repeats the same percentage many times: skip what is already set.
    if (allChannelsAt(l->elem, raw)) return true;
    int err = snd_mixer_selem_set_playback_volume_all(l->elem, raw);
    if (err < 0) {
        // The old handle may have broken since the last events were taken: once more on a new
        // one. Without one, the mixer is gone, which is said once, not per level.
        if (!reopen(l->mixer)) {
            markFailed(l->mixer, err);
            return false;
        }
        err = l->elem ? snd_mixer_selem_set_playback_volume_all(l->elem, raw) : -ENODEV;
    }
    if (err < 0) {
        errors.report("Mixer line " + l->name + " on " + mixers[l->mixer].name +
                      " refused the level " + std::to_string(std::lround(percent)) +
                      "%: " + alsaError(err));
        return false;
    }
    return true;
}

bool AlsaMixer::getLineLevel(int32_t deviceNumber, int32_t& level) {
    Line* l = line(deviceNumber);
    if (!l) return false;
    // The loudest channel is the line's level; a balance setting only lowers the others.
    long loudest = 0;
    bool any = false;
    int err = 0;
    for (int ch = 0; ch <= SND_MIXER_SCHN_LAST; ++ch) {
        auto channel = static_cast<snd_mixer_selem_channel_id_t>(ch);
        if (!snd_mixer_selem_has_playback_channel(l->elem, channel)) continue;
        long v = 0;
        if ((err = snd_mixer_selem_get_playback_volume(l->elem, channel, &v)) < 0) break;
        loudest = any ? std::max(loudest, v) : v;
        any = true;
    }
    if (err < 0 || !any) {
        errors.report(
            "Mixer line " + l->name + " on " + mixers[l->mixer].name +
            " gave no level: " + (err < 0 ? alsaError(err) : "it has no playback channel"));
        return false;
    }
    level = levelFromRaw(loudest, l->min, l->max);
    return true;
}
