#pragma once

#include <QString>
#include <deque>

class QListWidget;

// The window's "Errors:" list, bounded: the newest kKept lines stay, and no more than
// kKeptBytes of text; the older ones give way to one line that says how many went; a cause
// repeated in a row is one line with a count. A line too long to read is cut in its middle
// (ErrorLog::shortened). Standard error still gets every report (ErrorLog). UI thread only.
class ErrorList {
public:
    static constexpr int kKept = 1000;
    static constexpr qsizetype kKeptBytes = 256 * 1024;

    explicit ErrorList(QListWidget* List3) : List3(List3) {}
    // `line`: the time, two spaces, the cause.
    void add(const QString& line);

private:
    void dropOldest();
    void scrollSoon();  // to the newest line

    QListWidget* List3;
    bool scrollPending = false;
    QString lastCause;
    int repeats = 0;                 // of lastCause, in a row
    int dropped = 0;                 // older lines let go; row 0 says so once there are any
    std::deque<qsizetype> rowBytes;  // of each line after the notice, oldest first
    qsizetype keptBytes = 0;
};
