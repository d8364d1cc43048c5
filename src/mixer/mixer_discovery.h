#pragma once

#include "components/mixer_events.h"

class QListWidget;
class QTreeWidget;
struct SharedState;

// Records the mixers and lines the mixer reports, and the numbers of the four lines the
// sliders drive.
class MixerDiscovery : public MixerEvents {
public:
    MixerDiscovery(QListWidget* List1, QTreeWidget* ListView1, SharedState& state);

    void ReturnMixersInTheSystem(const std::string& MixerName, int16_t ManufacturerId,
                                 int16_t ProductId, int32_t DriverVersion) override;
    void ReturnDevicesAvailable(const std::string& DeviceName, const std::string& ShortDeviceName,
                                const std::string& KnownDevice, int32_t DeviceID,
                                int32_t DeviceType, int32_t devicenumber,
                                int32_t MaximumValue) override;

private:
    QListWidget* List1;
    QTreeWidget* ListView1;
    SharedState& state;
};
