#include "monitor/label_tint.h"

#include <QLabel>
#include <QScrollBar>

#include "shared/rounding.h"
#include "shared/scroll_scale.h"
#include "shared/widget_text.h"

unsigned timeLabelTint(int v) {
    return unsigned(roundHalfEven(1023 - v / ScrollScale::kPerHundredth));
}

unsigned fileNameLabelTint(int v) {
    return unsigned(roundHalfEven(-v / 327.27 - -65535.0));
}

LabelTint::LabelTint(Controls controls) : ui(controls) {}

void LabelTint::refresh() {
    setTextColorIfChanged(ui.Label15, colorFromBgr(timeLabelTint(ui.VScroll5->value())));
    setTextColorIfChanged(ui.Label10, colorFromBgr(timeLabelTint(ui.VScroll6->value())));
    setTextColorIfChanged(ui.Label2, colorFromBgr(fileNameLabelTint(ui.VScroll5->value())));
    setTextColorIfChanged(ui.Label11, colorFromBgr(fileNameLabelTint(ui.VScroll6->value())));
}
