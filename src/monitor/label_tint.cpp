#include "monitor/label_tint.h"

#include <QLabel>
#include <QScrollBar>

#include "shared/rounding.h"
#include "shared/scroll_scale.h"
#include "shared/widget_text.h"

namespace {
// The colours at full volume (v = 0): red 255 with green 3 (time), yellow (file name); each
// fades by 100 units of red over the bar's travel.
constexpr double kTimeTintAtTop = 1023;
constexpr double kFileNameTintAtTop = 65535;
// The file name labels' divisor is 327.27, not the scale's 327.67: the two tints differ by
// one unit for some positions (v = 491: 65533, not 65534), and that is the labels' colour.
constexpr double kFileNameTintDivisor = 327.27;
}  // namespace

unsigned timeLabelTint(int v) {
    return unsigned(roundHalfEven(kTimeTintAtTop - v / ScrollScale::kPerHundredth));
}

unsigned fileNameLabelTint(int v) {
    return unsigned(roundHalfEven(-v / kFileNameTintDivisor - -kFileNameTintAtTop));
}

LabelTint::LabelTint(Controls controls) : ui(controls) {}

void LabelTint::refresh() {
    setTextColorIfChanged(ui.Label15, colorFromBgr(timeLabelTint(ui.VScroll5->value())));
    setTextColorIfChanged(ui.Label10, colorFromBgr(timeLabelTint(ui.VScroll6->value())));
    setTextColorIfChanged(ui.Label2, colorFromBgr(fileNameLabelTint(ui.VScroll5->value())));
    setTextColorIfChanged(ui.Label11, colorFromBgr(fileNameLabelTint(ui.VScroll6->value())));
}
