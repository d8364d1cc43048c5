#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/mixer.h"

class ErrorSink;
class MixerEvents;
struct _snd_mixer;
struct _snd_mixer_elem;

// The sound-card mixer on ALSA's simple mixer interface. The mixers are every sound card
// (hw:N) and, last, ALSA's "default" device, which on a desktop is the sound server's mixer;
// being reported last, its lines take the roles ("MasterVolume", ...) over a card's lines.
// Lines are the simple elements with a playback volume, numbered from 1 across all mixers.
// ReturnMixersInTheSystem: ManufacturerId is the card index (-1 for a device that is not a
// card), ProductId the mixer's position (from 1), DriverVersion alsa-lib's version number.
// ReturnDevicesAvailable: DeviceID is the element's index, DeviceType the position of the
// mixer the line belongs to, MaximumValue the raw playback maximum.
class AlsaMixer : public Mixer {
public:
    // devices: ALSA control names to open in this order; empty means every card and "default".
    explicit AlsaMixer(ErrorSink& errors, std::vector<std::string> devices = {});
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    void setEventHandler(MixerEvents* handler) override { events = handler; }
    bool mixerReady() override { return !mixers.empty(); }
    void prepareMixer() override;
    void enumerationStep1() override;
    void enumerationStep2() override;
    bool setLineLevel(int32_t deviceNumber, float percent) override;
    bool getLineLevel(int32_t deviceNumber, int32_t& level) override;

    // The role the player gives a line, by its exact ALSA element name; "" for any other.
    static std::string knownDevice(const std::string& elementName);
    // percent 0..100 onto the raw range [min, max] and back on 0..65535, both linear.
    static long rawFromPercent(double percent, long min, long max);
    static int32_t levelFromRaw(long raw, long min, long max);

private:
    struct MixerCloser {
        void operator()(_snd_mixer* handle) const;
    };
    struct OpenMixer {
        std::unique_ptr<_snd_mixer, MixerCloser> handle;
        std::string device;  // ALSA name, e.g. "hw:0"
        std::string name;    // what the mixer list shows
        int card = -1;
        bool failed = false;  // its control went away and did not come back; reported once
        std::chrono::steady_clock::time_point lastAttempt{};
    };
    struct Line {
        _snd_mixer_elem* elem = nullptr;  // null once ALSA removed the element
        std::size_t mixer = 0;
        std::string name;
        int32_t index = 0;
        long min = 0, max = 0;
    };

    static int elementEvent(_snd_mixer_elem* elem, unsigned int mask);
    std::vector<std::pair<std::string, int>> devicesToOpen() const;
    // A loaded mixer on `device`, or null with the failing step in `cause`.
    static std::unique_ptr<_snd_mixer, MixerCloser> loadMixer(const std::string& device,
                                                              std::string& cause);
    void openMixer(const std::string& device, int card, std::vector<std::string>& failures);
    void watchElement(_snd_mixer_elem* elem);
    void reportNew(const std::vector<std::string>& failures);
    void ensurePrepared();
    Line* line(int32_t deviceNumber);
    bool refresh(std::size_t position);
    // A new handle for a mixer whose control failed (a sound server that restarted), its lines
    // found again by name and index. Tried at most once a second.
    bool reopen(std::size_t position);
    void markFailed(std::size_t position, int err);  // reported once, until a reopen works
    void forgetElement(_snd_mixer_elem* elem);

    ErrorSink& errors;
    std::vector<std::string> wanted;
    MixerEvents* events = nullptr;
    std::vector<OpenMixer> mixers;
    std::vector<Line> lines;
    std::vector<std::string> lastFailures;  // so repeated attempts do not repeat a report
};
