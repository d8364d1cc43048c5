#include "monitor/label_tint.h"

#include <QLabel>
#include <QScrollBar>

#include "monitor/paint_pacer.h"
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

LabelTint::LabelTint(Controls controls, PaintPacer& pacer) : ui(controls), pacer(pacer) {}

void LabelTint::refresh() {
    auto follow = [this](const QScrollBar* bar, int& shown, QLabel* time, QLabel* fileName) {
        const int v = bar->value();
        if (v == shown) return;
        shown = v;
        const QColor timeColor = colorFromBgr(timeLabelTint(v));
        if (time->palette().color(time->foregroundRole()) != timeColor) {
            pacer.hold(time);
            setTextColorIfChanged(time, timeColor);
        }
        setTextColorIfChanged(fileName, colorFromBgr(fileNameLabelTint(v)));
    };
    follow(ui.VScroll5, shownDeck1, ui.Label15, ui.Label2);
    follow(ui.VScroll6, shownDeck2, ui.Label10, ui.Label11);
}
