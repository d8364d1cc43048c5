#pragma once

#include <QObject>
#include <functional>

struct Form1Controls;
class RemoteControl;
class QWidget;

// The window by keyboard: Return and Enter press the focused button; in the playlist they do
// what a double-click does on the selected entry; Ctrl+O "Play File", Ctrl+Shift+O "Play
// Dir", Ctrl+J opens "Jump to entry", Ctrl+Q closes the window (the settings are saved as on
// any close); the media keys
// pressed in the window do what the desktop's media remote does. Controls outside the visible
// window take no focus. UI thread only.
class KeyboardAccess : public QObject {
public:
    struct Parts {
        QWidget* window;
        const Form1Controls& ui;
        RemoteControl& remote;
        std::function<void()> activateEntry;  // the playlist's double-click handler
        std::function<void()> openJump;       // opens or raises "Jump to entry"
    };
    explicit KeyboardAccess(Parts parts);

    // After the window changed size: only what it shows takes focus.
    void fitFocusToView();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addShortcuts();

    Parts parts;
};
