#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

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

signals:
    void lineAdded(const QString& line);

private:
    mutable QMutex mutex;
    QStringList lines;
};
