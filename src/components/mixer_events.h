#pragma once

#include <cstdint>
#include <string>

// Reports a mixer raises synchronously from inside its enumeration calls.
class MixerEvents {
public:
    virtual ~MixerEvents() = default;
    virtual void ReturnMixersInTheSystem(const std::string& MixerName, int16_t ManufacturerId,
                                         int16_t ProductId, int32_t DriverVersion) = 0;
    virtual void ReturnDevicesAvailable(const std::string& DeviceName,
                                        const std::string& ShortDeviceName,
                                        const std::string& KnownDevice, int32_t DeviceID,
                                        int32_t DeviceType, int32_t devicenumber,
                                        int32_t MaximumValue) = 0;
};
