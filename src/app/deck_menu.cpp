#include "app/deck_menu.h"

#include <QKeyEvent>
#include <QMenu>
#include <QWidget>
#include <cassert>

#include "app/crossfade_settings.h"
#include "app/levelling_settings.h"
#include "app/output_settings.h"
#include "components/deck.h"

namespace {
bool opensMenu(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
    return key->key() == Qt::Key_Menu ||
           (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
}
}  // namespace

DeckMenu::DeckMenu(Parts parts)
    : parts(std::move(parts)),
      outputs(this->parts.deck, [this](const std::string& name) { choose(name); }),
      levelling(this->parts.deck, [this](Deck::Levelling mode) { chooseLevelling(mode); }),
      crossfade(this->parts.deck, [this](double seconds) { chooseCrossfade(seconds); }) {
    assert(this->parts.deckNumber == 1 || this->parts.deckNumber == 2);
    assert((this->parts.deckNumber == 1) == (this->parts.resumeSettings != nullptr));
    if (this->parts.resumeSettings) atStart.emplace(*this->parts.resumeSettings);
    for (QWidget* widget : this->parts.area) {
        // The control's own menu (a scroll bar's "Scroll here" ...) gives way to the deck's.
        widget->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(widget, &QWidget::customContextMenuRequested, this,
                [this, widget](const QPoint& pos) { open(widget->mapToGlobal(pos)); });
        widget->installEventFilter(this);
    }
}

DeckMenu::~DeckMenu() {
    delete menu.data();
}

void DeckMenu::open(const QPoint& globalPos) {
    if (menu && menu->isVisible()) return;
    delete menu.data();
    const QString title = QStringLiteral("Deck %1 output").arg(parts.deckNumber);
    // A child of the deck's first control, so that it goes with the window; a popup takes
    // nothing of the window's colours.
    menu = new QMenu(title, parts.area.front());
    menu->setAccessibleName(title);
    outputs.addTo(*menu);
    levelling.addTo(*menu);
    if (parts.crossfadeSettings) crossfade.addTo(*menu);
    if (atStart) atStart->addTo(*menu);
    menu->popup(globalPos);
}

bool DeckMenu::eventFilter(QObject* watched, QEvent* event) {
    if (!opensMenu(event)) return false;
    auto* widget = static_cast<QWidget*>(watched);
    event->accept();
    open(widget->mapToGlobal(widget->rect().center()));
    return true;
}

void DeckMenu::choose(const std::string& name) {
    parts.deck.chooseOutputDevice(name);
    parts.settings.store(parts.deckNumber, name);
}

void DeckMenu::chooseLevelling(Deck::Levelling mode) {
    parts.deck.setLevelling(mode, parts.levellingSettings.preampDb());
    parts.levellingSettings.store(parts.deckNumber, mode);
}

void DeckMenu::chooseCrossfade(double seconds) {
    parts.deck.setCrossfade(seconds);
    parts.crossfadeSettings->store(seconds);
}
