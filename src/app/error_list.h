#pragma once

#include <QString>

class QListWidget;

// The window's "Errors:" list, bounded: the newest kKept lines stay, the older ones give way
// to one line that says how many went; a cause repeated in a row is one line with a count.
// Standard error still gets every report (ErrorLog). UI thread only.
class ErrorList {
public:
    static constexpr int kKept = 1000;

    explicit ErrorList(QListWidget* List3) : List3(List3) {}
    // `line`: the time, two spaces, the cause.
    void add(const QString& line);

private:
    void scrollSoon();  // to the newest line

    QListWidget* List3;
    bool scrollPending = false;
    QString lastCause;
    int repeats = 0;  // of lastCause, in a row
    int dropped = 0;  // older lines let go; row 0 says so once there are any
};
