#include "monitor/paint_pacer.h"

#include <QAbstractSlider>
#include <QLabel>
#include <utility>

namespace {

// setUpdatesEnabled(true) repaints the widget whole; a widget whose pixels are still right
// takes its updates back without that, so a tick that changed nothing paints nothing.
void enableUpdatesQuietly(QWidget* widget) {
    widget->setAttribute(Qt::WA_ForceUpdatesDisabled, false);
    widget->setAttribute(Qt::WA_UpdatesDisabled, false);
}

}  // namespace

PaintPacer::PaintPacer(std::vector<QWidget*> widgets)
    : widgets(std::move(widgets)), paced(this->widgets.size()) {
    for (std::size_t i = 0; i < this->widgets.size(); ++i)
        paced[i].painted = shownBy(this->widgets[i]);
}

PaintPacer::Shown PaintPacer::shownBy(const QWidget* widget) {
    Shown shown;
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        shown.text = label->text();
        shown.color = label->palette().color(label->foregroundRole());
    } else if (const auto* slider = qobject_cast<const QAbstractSlider*>(widget)) {
        shown.value = slider->value();
    }
    return shown;
}

void PaintPacer::beforeTick() {
    ticks = (ticks + 1) % kTicksPerPaint;
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        // Held since an earlier tick: the event loop ran meanwhile, and whatever it asked to
        // repaint (focus, hover, enabled) was dropped and waits for the full repaint.
        paced[i].held = !widgets[i]->updatesEnabled();
        // Disabled updates drop a change's repaint; the window system's own paints still happen.
        if (ticks != 0 && !paced[i].held) widgets[i]->setUpdatesEnabled(false);
    }
}

void PaintPacer::afterTick() {
    const bool paintTick = ticks == 0;
    const bool minimized = !widgets.empty() && widgets.front()->window()->isMinimized();
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        QWidget* widget = widgets[i];
        const Shown now = shownBy(widget);
        if (widget->updatesEnabled()) {  // a paint tick's change is painted as it is made
            paced[i].painted = now;
            continue;
        }
        const bool changed = !(now == paced[i].painted);
        if (!changed && !paced[i].held) {
            // Disabled by this tick alone and nothing of it changed: nothing was dropped.
            enableUpdatesQuietly(widget);
        } else if (paintTick && !minimized) {
            // Enabling repaints the widget: its new value, and whatever was dropped meanwhile.
            paced[i].painted = now;
            widget->setUpdatesEnabled(true);
        }
        // Otherwise held to the next paint tick, 40 ms at most.
    }
}
