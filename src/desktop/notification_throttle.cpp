#include "desktop/notification_throttle.h"

std::optional<QString> NotificationThrottle::add(const QString& line, std::int64_t now) {
    if (gathered.isEmpty() && (!lastSent || now - *lastSent >= interval)) {
        lastSent = now;
        return line;
    }
    gathered << line;
    return std::nullopt;
}

std::optional<std::int64_t> NotificationThrottle::dueAt() const {
    if (gathered.isEmpty()) return std::nullopt;
    return *lastSent + interval;
}

std::optional<QString> NotificationThrottle::takeDue(std::int64_t now) {
    const auto due = dueAt();
    if (!due || now < *due) return std::nullopt;
    QString body = gathered.last();
    if (gathered.size() > 1) body += QStringLiteral("\nand %1 more").arg(gathered.size() - 1);
    gathered.clear();
    lastSent = now;
    return body;
}
