#include "monitor/time_display.h"

#include <QLabel>
#include <QSlider>

#include "components/deck.h"
#include "monitor/paint_pacer.h"
#include "monitor/time_text.h"

TimeDisplay::TimeDisplay(Controls controls, Deck& deck, PaintPacer& pacer)
    : ui(controls), deck(deck), pacer(pacer) {}

void TimeDisplay::refresh() {
    deck.followOutput();  // the time shown is where the sound was heard
    const double length = deck.duration();
    if (!(length > 0)) return;
    const double position = deck.currentPosition();

    const int progress = progressPercent(position, length);
    if (progress != ui.slider->value()) {
        pacer.hold(ui.slider);
        ui.slider->setValue(progress);
    }
    // The label shows what the slider holds; the user may have dragged it.
    const int percent = ui.slider->value();
    if (percent != shownPercent) {
        shownPercent = percent;
        pacer.hold(ui.percentLabel);
        ui.percentLabel->setText(QString::number(percent) + QLatin1Char('%'));
    }
    const int64_t ms = positionMilliseconds(position);
    if (ms != shownMilliseconds) {
        shownMilliseconds = ms;
        pacer.hold(ui.timeLabel);
        ui.timeLabel->setText(elapsedTimeText(ms));
    }
}
