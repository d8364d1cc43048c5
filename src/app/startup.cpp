#include "app/startup.h"

#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>

#include "components/mixer.h"
#include "shared/rounding.h"
#include "shared/scroll_scale.h"
#include "shared/shared_state.h"

namespace {
struct Column {
    const char* header;
    float divisor;
};
constexpr Column kColumns[6] = {{"Device Name", 4},  {"Device ID", 12},    {"Device Type", 8},
                                {"Known Device", 6}, {"Device Number", 8}, {"Max Value", 8}};
}  // namespace

std::array<float, 6> mixerColumnWidths(float width) {
    std::array<float, 6> widths{};
    for (size_t i = 0; i < widths.size(); ++i) widths[i] = width / kColumns[i].divisor;
    return widths;
}

int levelToBarPosition(int32_t level) {
    return int(std::clamp(roundHalfEven(100.0 - level / ScrollScale::kMixerLevelPerHundredth), 0.0,
                          double(ScrollScale::kBottom)));
}

Startup::Startup(Controls controls, SharedState& state, Mixer& mixer)
    : ui(controls), state(state), BWMixer1(mixer) {}

void Startup::Form_Load() {
    state.playerState = PlayerState::Pstart;

    QTreeWidget* list = ui.ListView1;
    list->setColumnCount(0);
    for (int i = 0; i < 6; ++i) {
        // The width is read again before each column, as the list may change with it.
        const float width = mixerColumnWidths(float(list->width()))[size_t(i)];
        list->setColumnCount(i + 1);
        list->headerItem()->setText(i, kColumns[i].header);
        list->setColumnWidth(i, int(roundHalfEven(width)));
    }
    // Report view: rows with their columns under visible headers.
    list->setHeaderHidden(false);
    list->setRootIsDecorated(false);

    if (!BWMixer1.mixerReady()) BWMixer1.prepareMixer();
    // The line reports arrive nested in these calls and set the device numbers used below.
    BWMixer1.enumerationStep1();
    BWMixer1.enumerationStep2();

    BWMixer1.getLineLevel(state.MasterVolumeDevice, state.MixerLevel);
    ui.VScroll1->setValue(levelToBarPosition(state.MixerLevel));
    BWMixer1.getLineLevel(state.WaveOutputDevice, state.MixerLevel);
    ui.VScroll2->setValue(levelToBarPosition(state.MixerLevel));

    ui.Label13->setText("0%");
    ui.Label12->setText("0%");
    ui.Label15->setText("00:00:00.000");
    ui.Label10->setText("00:00:00.000");
    ui.Label19->setText("");

    state.playerState = PlayerState::Stopped;
    state.NextDeck = 2;
}
