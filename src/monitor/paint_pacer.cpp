#include "monitor/paint_pacer.h"

#include <QAbstractSlider>
#include <QLabel>
#include <utility>

PaintPacer::PaintPacer(std::vector<QWidget*> widgets)
    : widgets(std::move(widgets)), painted(this->widgets.size()) {
    for (std::size_t i = 0; i < this->widgets.size(); ++i) painted[i] = shownBy(this->widgets[i]);
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
    if (ticks == 0) return;
    // Disabled updates drop a change's repaint; the window system's own paints still happen.
    for (QWidget* widget : widgets)
        if (widget->updatesEnabled()) widget->setUpdatesEnabled(false);
}

void PaintPacer::afterTick() {
    if (ticks != 0 || widgets.empty() || widgets.front()->window()->isMinimized()) return;
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        const Shown now = shownBy(widgets[i]);
        // Enabling repaints the widget: only where something changed since its last paint.
        if (now == painted[i]) continue;
        painted[i] = now;
        widgets[i]->setUpdatesEnabled(true);
    }
}
