#include "app/keyboard_access.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QWidget>

#include "app/form1_controls.h"
#include "app/remote_control.h"

namespace {
bool isReturn(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

// The focus a control has by design, kept while the window hides it.
constexpr const char* kDesignFocus = "velmorDesignFocus";
}  // namespace

KeyboardAccess::KeyboardAccess(Parts parts) : parts(std::move(parts)) {
    for (QPushButton* button : this->parts.window->findChildren<QPushButton*>())
        button->installEventFilter(this);
    this->parts.ui.List4->installEventFilter(this);
    addShortcuts();
    fitFocusToView();
}

void KeyboardAccess::addShortcuts() {
    QWidget* window = parts.window;
    RemoteControl& remote = parts.remote;
    const auto on = [window](QKeySequence keys, auto action) {
        QObject::connect(new QShortcut(keys, window), &QShortcut::activated, window, action);
    };
    QPushButton* playFile = parts.ui.Command2;
    QPushButton* playDir = parts.ui.Command6;
    on(QKeySequence(Qt::CTRL | Qt::Key_O), [playFile] { playFile->click(); });
    on(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [playDir] { playDir->click(); });
    on(QKeySequence(Qt::CTRL | Qt::Key_J), parts.openJump);
    on(QKeySequence(Qt::CTRL | Qt::Key_Q), [window] { window->close(); });
    on(QKeySequence(Qt::Key_MediaPlay), [&remote] { remote.play(); });
    on(QKeySequence(Qt::Key_MediaPause), [&remote] { remote.pause(); });
    on(QKeySequence(Qt::Key_MediaTogglePlayPause), [&remote] { remote.playPause(); });
    on(QKeySequence(Qt::Key_MediaStop), [&remote] { remote.stop(); });
    on(QKeySequence(Qt::Key_MediaNext), [&remote] { remote.next(); });
    on(QKeySequence(Qt::Key_MediaPrevious), [&remote] { remote.previous(); });
}

void KeyboardAccess::fitFocusToView() {
    const QRect shown = parts.window->rect();
    for (QWidget* widget : parts.window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->isWindow()) continue;  // a window of its own is not in this one's view
        if (!widget->property(kDesignFocus).isValid())
            widget->setProperty(kDesignFocus, static_cast<int>(widget->focusPolicy()));
        const auto design = static_cast<Qt::FocusPolicy>(widget->property(kDesignFocus).toInt());
        widget->setFocusPolicy(shown.contains(widget->geometry().center()) ? design : Qt::NoFocus);
    }
}

bool KeyboardAccess::eventFilter(QObject* watched, QEvent* event) {
    if (!isReturn(event)) return false;
    if (watched == parts.ui.List4) {
        parts.activateEntry();
        return true;
    }
    if (auto* button = qobject_cast<QPushButton*>(watched)) {
        button->click();
        return true;
    }
    return false;
}
