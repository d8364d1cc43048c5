#include "app/error_log.h"

#include <QTime>
#include <cstdio>

namespace {
constexpr std::string_view kEllipsis = "\u2026";

bool continuesCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}
}  // namespace

std::string ErrorLog::shortened(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    if (maxBytes < kEllipsis.size()) return {};
    const std::size_t kept = maxBytes - kEllipsis.size();
    std::size_t headEnd = kept / 2;
    while (headEnd > 0 && continuesCharacter(text[headEnd])) --headEnd;
    std::size_t tailStart = text.size() - (kept - kept / 2);
    while (tailStart < text.size() && continuesCharacter(text[tailStart])) ++tailStart;
    std::string result;
    result.reserve(headEnd + kEllipsis.size() + (text.size() - tailStart));
    result.append(text.substr(0, headEnd)).append(kEllipsis).append(text.substr(tailStart));
    return result;
}

void ErrorLog::report(std::string_view cause) {
    const std::string shortCause = shortened(cause);
    const QString line = QTime::currentTime().toString("HH:mm:ss") + "  " +
                         QString::fromUtf8(shortCause.data(), qsizetype(shortCause.size()));
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    {
        QMutexLocker lock(&mutex);
        lines << line;
        // Only a window that connects late reads these: the newest of them are enough.
        if (lines.size() > kHistory) lines.removeFirst();
    }
    // Queued across threads by Qt when reported off the UI thread.
    emit lineAdded(line);
}

QStringList ErrorLog::history() const {
    QMutexLocker lock(&mutex);
    return lines;
}
