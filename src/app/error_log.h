#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <string>
#include <string_view>

#include "components/error_sink.h"

// Writes each failure, with the time, to standard error at once and hands it to the window
// on the UI thread (reports may come from decoder threads).
class ErrorLog : public QObject, public ErrorSink {
    Q_OBJECT
public:
    void report(std::string_view cause) override;
    // The lines so far (the newest kHistory), for a window that connects after the first
    // reports.
    QStringList history() const;
    static constexpr qsizetype kHistory = 1000;

    // A cause longer than this is cut in its middle: long enough for any path people use,
    // short enough that a flood of errors about absurd paths holds no memory to speak of.
    static constexpr std::size_t kMaxCauseBytes = 512;
    // `text` at most `maxBytes` long: the start and the end kept, "…" between them, never
    // cutting a UTF-8 character in two.
    static std::string shortened(std::string_view text, std::size_t maxBytes = kMaxCauseBytes);

signals:
    void lineAdded(const QString& line);

private:
    mutable QMutex mutex;
    QStringList lines;
};
