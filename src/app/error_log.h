#pragma once

#include <QObject>
#include <QString>

#include "components/error_sink.h"

// Writes each failure, with the time, to standard error at once and hands it to the window
// on the UI thread (reports may come from decoder threads).
class ErrorLog : public QObject, public ErrorSink {
    Q_OBJECT
public:
    void report(std::string_view cause) override;

signals:
    void lineAdded(const QString& line);
};
