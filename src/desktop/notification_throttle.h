#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// At most one notification per interval: a line goes out at once when the last notification
// is at least an interval old; lines arriving sooner are gathered into the next one, which
// shows the latest of them (the one about what the user did last) and how many more there
// were. Times in milliseconds, any origin.
class NotificationThrottle {
public:
    explicit NotificationThrottle(std::int64_t intervalMs) : interval(intervalMs) {}

    // The body to send now, or nothing when the line waits for the next notification.
    std::optional<QString> add(const QString& line, std::int64_t now);
    // When the gathered lines may go out; nothing when none wait.
    std::optional<std::int64_t> dueAt() const;
    // The gathered lines as one body, once they are due.
    std::optional<QString> takeDue(std::int64_t now);

private:
    std::int64_t interval;
    std::optional<std::int64_t> lastSent;
    QStringList gathered;
};
