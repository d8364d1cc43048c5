#include "fake_mixer.h"

bool FakeMixer::mixerReady() {
    calls.push_back("mixerReady");
    return ready;
}

void FakeMixer::enumerationStep1() {
    calls.push_back("enumerationStep1");
    for (const auto& m : mixers) {
        calls.push_back("  report mixer " + m);
        if (handler) handler->ReturnMixersInTheSystem(m, 1, 2, 3);
    }
}

void FakeMixer::enumerationStep2() {
    calls.push_back("enumerationStep2");
    for (const auto& l : lines) {
        calls.push_back("  report line " + l.DeviceName);
        if (handler)
            handler->ReturnDevicesAvailable(l.DeviceName, l.ShortDeviceName, l.KnownDevice,
                                            l.DeviceID, l.DeviceType, l.devicenumber,
                                            l.MaximumValue);
    }
}

bool FakeMixer::setLineLevel(int32_t deviceNumber, float percent) {
    calls.push_back("setLineLevel " + std::to_string(deviceNumber));
    set.emplace_back(deviceNumber, percent);
    return deviceNumber != 0;
}

bool FakeMixer::getLineLevel(int32_t deviceNumber, int32_t& level) {
    calls.push_back("getLineLevel " + std::to_string(deviceNumber));
    auto it = levels.find(deviceNumber);
    if (it == levels.end()) return false;
    level = it->second;
    return true;
}
