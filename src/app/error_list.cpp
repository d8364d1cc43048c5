#include "app/error_list.h"

#include <QListWidget>
#include <QTimer>

namespace {
// What follows the time: reports of one cause differ in their time only.
QString causeOf(const QString& line) {
    const qsizetype gap = line.indexOf(QStringLiteral("  "));
    return gap < 0 ? line : line.mid(gap + 2);
}
}  // namespace

void ErrorList::add(const QString& line) {
    const QString cause = causeOf(line);
    if (List3->count() > (dropped > 0 ? 1 : 0) && cause == lastCause) {
        ++repeats;
        List3->item(List3->count() - 1)
            ->setText(QStringLiteral("%1 (%2 times)").arg(line).arg(repeats));
        scrollSoon();
        return;
    }
    lastCause = cause;
    repeats = 1;
    List3->addItem(line);
    const int notice = dropped > 0 ? 1 : 0;
    if (List3->count() - notice > kKept) {
        // The oldest line becomes the notice the first time (no row is added: a new row is
        // news to the desktop's notifier), and gives way to it after that.
        if (notice) delete List3->takeItem(1);
        ++dropped;
        List3->item(0)->setText(QStringLiteral("(%1 older lines dropped)").arg(dropped));
    }
    scrollSoon();
}

void ErrorList::scrollSoon() {
    // Once for a burst of lines: each scroll lays the whole list out again.
    if (scrollPending) return;
    scrollPending = true;
    QTimer::singleShot(0, List3, [this] {
        scrollPending = false;
        List3->scrollToBottom();
    });
}
