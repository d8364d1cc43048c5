#include "mixer/mixer_discovery.h"

#include <QListWidget>
#include <QTreeWidget>

#include "shared/shared_state.h"

MixerDiscovery::MixerDiscovery(QListWidget* List1, QTreeWidget* ListView1, SharedState& state)
    : List1(List1), ListView1(ListView1), state(state) {}

void MixerDiscovery::ReturnMixersInTheSystem(const std::string& MixerName, int16_t, int16_t,
                                             int32_t) {
    List1->addItem(QString::fromStdString(MixerName));
}

void MixerDiscovery::ReturnDevicesAvailable(const std::string& DeviceName, const std::string&,
                                            const std::string& KnownDevice, int32_t DeviceID,
                                            int32_t DeviceType, int32_t devicenumber,
                                            int32_t MaximumValue) {
    // Newest line on top.
    auto* row = new QTreeWidgetItem;
    row->setText(0, QString::fromStdString(DeviceName));
    row->setText(1, QString::number(DeviceID));
    row->setText(2, QString::number(DeviceType));
    row->setText(3, QString::fromStdString(KnownDevice));
    row->setText(4, QString::number(devicenumber));
    row->setText(5, QString::number(MaximumValue));
    ListView1->insertTopLevelItem(0, row);

    if (KnownDevice == "WaveOutput") state.WaveOutputDevice = devicenumber;
    if (KnownDevice == "MasterVolume") state.MasterVolumeDevice = devicenumber;
    if (KnownDevice == "Bass") state.BassDevice = devicenumber;
    if (KnownDevice == "Treble") state.TrebleDevice = devicenumber;
}
