#include "app/jump_window.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "app/jump_matches.h"

JumpWindow::JumpWindow(Parts givenParts)
    : QDialog(givenParts.owner),
      parts(std::move(givenParts)),
      matches(new JumpMatches(this)),
      field(new QLineEdit(this)),
      view(new QListView(this)),
      refoldSoon(new QTimer(this)) {
    setObjectName("JumpWindow");
    setWindowTitle(tr("Jump to entry"));
    setModal(false);
    field->setObjectName("JumpQuery");
    field->setAccessibleName(tr("Words of the entry to jump to"));
    field->setClearButtonEnabled(true);
    view->setObjectName("JumpMatches");
    view->setAccessibleName(tr("Playlist entries holding every word"));
    view->setModel(matches);
    // Rows of one height: the view lays out thousands without asking each for its size.
    view->setUniformItemSizes(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(field);
    layout->addWidget(view);
    resize(460, 360);

    field->installEventFilter(this);
    view->installEventFilter(this);
    connect(field, &QLineEdit::textChanged, this, [this] {
        if (stale) refold();
        refill();
    });

    refoldSoon->setSingleShot(true);
    refoldSoon->setInterval(0);
    connect(refoldSoon, &QTimer::timeout, this, [this] {
        if (!stale || !isVisible()) return;
        refold();
        refill();
    });
    const QAbstractItemModel* entries = parts.playlist->model();
    const auto changed = [this] { playlistChanged(); };
    connect(entries, &QAbstractItemModel::modelReset, this, changed);
    connect(entries, &QAbstractItemModel::rowsInserted, this, changed);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(entries, &QAbstractItemModel::rowsMoved, this, changed);
    connect(entries, &QAbstractItemModel::layoutChanged, this, changed);
    connect(entries, &QAbstractItemModel::dataChanged, this, changed);
    stale = true;
}

void JumpWindow::showOrRaise() {
    if (!isVisible()) {
        refold();
        // Clearing an empty field says nothing: refill either way.
        const QSignalBlocker quiet(field);
        field->clear();
        refill();
        show();
    }
    raise();
    activateWindow();
    field->setFocus();
}

void JumpWindow::playlistChanged() {
    stale = true;
    // Hidden, the next opening folds anyway.
    if (isVisible()) refoldSoon->start();
}

void JumpWindow::refold() {
    QStringList texts;
    const int count = parts.playlist->count();
    texts.reserve(count);
    for (int row = 0; row < count; ++row) texts << parts.playlist->item(row)->text();
    filter.setEntries(texts);
    matches->setEntryTexts(std::move(texts));
    field->setPlaceholderText(count == 0 ? tr("The playlist is empty")
                                         : tr("Words of the entry, in any order"));
    stale = false;
}

void JumpWindow::refill() {
    matches->setMatches(filter.matches(field->text()));
    if (matches->rowCount() > 0) view->setCurrentIndex(matches->index(0));
}

void JumpWindow::choose(const std::function<void(int)>& deck) {
    // A list that no longer shows the playlist shows it first; the user chooses again.
    if (stale) {
        refold();
        refill();
        return;
    }
    const int entry = matches->entryAt(view->currentIndex().row());
    if (entry < 0) return;
    hide();
    deck(entry + 1);
}

bool JumpWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || (watched != field && watched != view)) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // The field keeps the focus, so typing goes on; the list moves.
            if (watched == field) {
                QCoreApplication::sendEvent(view, event);
                return true;
            }
            return false;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
            choose(key->modifiers() & Qt::ShiftModifier ? parts.deck2 : parts.deck1);
            return true;
        default:
            return false;
    }
}
