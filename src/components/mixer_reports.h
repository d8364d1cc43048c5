#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/mixer_events.h"

// A mixer's reports kept as they were raised, to be read or raised again later.
class MixerReports : public MixerEvents {
public:
    struct MixerReport {
        std::string name;
        int16_t manufacturerId = 0, productId = 0;
        int32_t driverVersion = 0;
    };
    struct LineReport {
        std::string name, shortName, known;
        int32_t id = 0, type = 0, number = 0, max = 0;
    };

    std::vector<MixerReport> mixers;
    std::vector<LineReport> lines;

    void ReturnMixersInTheSystem(const std::string& MixerName, int16_t ManufacturerId,
                                 int16_t ProductId, int32_t DriverVersion) override {
        mixers.push_back({MixerName, ManufacturerId, ProductId, DriverVersion});
    }
    void ReturnDevicesAvailable(const std::string& DeviceName, const std::string& ShortDeviceName,
                                const std::string& KnownDevice, int32_t DeviceID,
                                int32_t DeviceType, int32_t devicenumber,
                                int32_t MaximumValue) override {
        lines.push_back({DeviceName, ShortDeviceName, KnownDevice, DeviceID, DeviceType,
                         devicenumber, MaximumValue});
    }
};
