#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "components/mixer.h"
#include "components/mixer_events.h"

// Records every call and raises the reports it was given, nested in the enumeration calls.
class FakeMixer : public Mixer {
public:
    struct Line {
        std::string DeviceName, ShortDeviceName, KnownDevice;
        int32_t DeviceID = 0, DeviceType = 0, devicenumber = 0, MaximumValue = 0;
    };

    std::vector<std::string> calls;  // "mixerReady", "prepareMixer", "getLineLevel 3", ...
    bool ready = false;
    std::vector<std::string> mixers;
    std::vector<Line> lines;
    std::map<int32_t, int32_t> levels;           // what getLineLevel reports per device
    std::vector<std::pair<int32_t, float>> set;  // setLineLevel arguments

    void setEventHandler(MixerEvents* h) override { handler = h; }
    bool mixerReady() override;
    void prepareMixer() override { calls.push_back("prepareMixer"); }
    void enumerationStep1() override;
    void enumerationStep2() override;
    bool setLineLevel(int32_t deviceNumber, float percent) override;
    bool getLineLevel(int32_t deviceNumber, int32_t& level) override;

private:
    MixerEvents* handler = nullptr;
};
