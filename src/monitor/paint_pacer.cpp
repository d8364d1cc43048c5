#include "monitor/paint_pacer.h"

#include <QWidget>
#include <algorithm>

void PaintPacer::beforeTick() {
    ticks = (ticks + 1) % kTicksPerPaint;
}

void PaintPacer::hold(QWidget* widget) {
    // On a paint tick a change is painted as it is made, unless nothing may be painted now.
    if (paintTick() && !widget->window()->isMinimized()) return;
    const auto end = held.begin() + std::ptrdiff_t(heldCount);
    if (std::find(held.begin(), end, widget) != end) return;
    if (heldCount == held.size()) return;  // painted as made
    // Disabled updates drop the change's repaint; the window system's own paints still happen.
    widget->setUpdatesEnabled(false);
    held[heldCount++] = widget;
}

void PaintPacer::afterTick() {
    if (!paintTick() || heldCount == 0) return;
    if (held[0]->window()->isMinimized()) return;  // held until a paint tick can show them
    // Enabling repaints each widget whole: its new value, and whatever the event loop asked of
    // it (focus, hover, enabled) while it was held.
    for (std::size_t i = 0; i < heldCount; ++i) held[i]->setUpdatesEnabled(true);
    heldCount = 0;
}
