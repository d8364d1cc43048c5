#include "app/error_log.h"

#include <QTime>
#include <cstdio>

void ErrorLog::report(std::string_view cause) {
    const QString line = QTime::currentTime().toString("HH:mm:ss") + "  " +
                         QString::fromUtf8(cause.data(), qsizetype(cause.size()));
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
