#include "monitor/tick.h"

#include <QCheckBox>
#include <QLabel>

#include "monitor/clock_announcer.h"
#include "monitor/joystick_fader.h"
#include "monitor/label_tint.h"
#include "monitor/paint_pacer.h"
#include "monitor/playback_watch.h"
#include "monitor/time_display.h"
#include "shared/widget_text.h"

Tick::Tick(QCheckBox* Check1, QLabel* Label22, Steps steps)
    : Check1(Check1), Label22(Label22), steps(steps) {}

void Tick::Timer1_Timer() {
    steps.pacer.beforeTick();
    if (Check1->checkState() == Qt::Checked) steps.joystick.step();
    static const QString status = QStringLiteral("Player busy ? : ??? not yet");
    setTextIfChanged(Label22, status);
    steps.watch.step();
    steps.deck1Display.refresh();
    steps.deck2Display.refresh();
    steps.tint.refresh();
    steps.pacer.afterTick();
    steps.announcer.afterTick();
}
