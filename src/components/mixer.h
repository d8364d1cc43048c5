#pragma once

#include <cstdint>

class MixerEvents;

// The sound card's mixer: mixers and their lines with a playback volume.
// Device numbers start at 1; 0 or an unknown number changes nothing and gives false.
class Mixer {
public:
    virtual ~Mixer() = default;

    // Receiver of the reports, raised on the calling thread inside the enumeration calls (or,
    // where a mixer that does not answer in time owes them, later from that thread's event
    // loop); may be null.
    virtual void setEventHandler(MixerEvents* handler) = 0;

    virtual bool mixerReady() = 0;
    virtual void prepareMixer() = 0;
    // Raises ReturnMixersInTheSystem once per mixer.
    virtual void enumerationStep1() = 0;
    // Raises ReturnDevicesAvailable once per line.
    virtual void enumerationStep2() = 0;

    // percent 0..99, linear in the line's raw range.
    virtual bool setLineLevel(int32_t deviceNumber, float percent) = 0;
    // level 0..65535 on the same scale; left untouched on failure.
    virtual bool getLineLevel(int32_t deviceNumber, int32_t& level) = 0;
};
