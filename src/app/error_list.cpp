#include "app/error_list.h"

#include <QListWidget>
#include <QTimer>

#include "app/error_log.h"

namespace {
// What follows the time: reports of one cause differ in their time only.
QString causeOf(const QString& line) {
    const qsizetype gap = line.indexOf(QStringLiteral("  "));
    return gap < 0 ? line : line.mid(gap + 2);
}

qsizetype textBytes(const QString& text) {
    return text.size() * qsizetype(sizeof(QChar));
}

// ErrorLog cuts what it reports; a line handed in another way is held to the same length.
QString readableLength(const QString& line) {
    // A UTF-16 unit is at most three bytes in UTF-8: shorter lines need no look.
    if (std::size_t(line.size()) * 3 <= ErrorLog::kMaxCauseBytes) return line;
    const QByteArray bytes = line.toUtf8();
    const std::string cut = ErrorLog::shortened({bytes.constData(), std::size_t(bytes.size())});
    return QString::fromUtf8(cut.data(), qsizetype(cut.size()));
}
}  // namespace

void ErrorList::add(const QString& givenLine) {
    const QString line = readableLength(givenLine);
    const QString cause = causeOf(line);
    if (List3->count() > (dropped > 0 ? 1 : 0) && cause == lastCause) {
        ++repeats;
        QListWidgetItem* last = List3->item(List3->count() - 1);
        last->setText(QStringLiteral("%1 (%2 times)").arg(line).arg(repeats));
        keptBytes += textBytes(last->text()) - rowBytes.back();
        rowBytes.back() = textBytes(last->text());
        scrollSoon();
        return;
    }
    lastCause = cause;
    repeats = 1;
    List3->addItem(line);
    rowBytes.push_back(textBytes(line));
    keptBytes += rowBytes.back();
    // The newest line always stays, whatever its size.
    while (rowBytes.size() > std::size_t(kKept) || (keptBytes > kKeptBytes && rowBytes.size() > 1))
        dropOldest();
    scrollSoon();
}

void ErrorList::dropOldest() {
    keptBytes -= rowBytes.front();
    rowBytes.pop_front();
    // The oldest line becomes the notice the first time (no row is added: a new row is news
    // to the desktop's notifier), and gives way to it after that.
    if (dropped > 0) delete List3->takeItem(1);
    ++dropped;
    List3->item(0)->setText(QStringLiteral("(%1 older lines dropped)").arg(dropped));
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
