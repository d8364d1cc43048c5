#include "monitor/clock_announcer.h"

#include <QAccessible>
#include <QLabel>

ClockAnnouncer::Listener ClockAnnouncer::accessibilityBus() {
    return {[] { return QAccessible::isActive(); },
            [](QLabel* label) {
                QAccessibleEvent event(label, QAccessible::DescriptionChanged);
                QAccessible::updateAccessibility(&event);
            }};
}

ClockAnnouncer::ClockAnnouncer(std::vector<QLabel*> labels, Listener listener)
    : labels(std::move(labels)), listener(std::move(listener)), announced(this->labels.size()) {}

void ClockAnnouncer::afterTick() {
    if (++ticks < kTicksPerAnnouncement) return;
    ticks = 0;
    if (!listener.listening()) return;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const QString text = labels[i]->text();
        if (text == announced[i]) continue;
        announced[i] = text;
        listener.announce(labels[i]);
    }
}
