#include "app/control_names.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTreeWidget>
#include <QWidget>
#include <cmath>

#include "app/form1_controls.h"
#include "shared/scroll_scale.h"

namespace {

// Which kind of accessible interface a widget gets; read by the factory below.
constexpr const char* kAccessKind = "velmorAccessKind";
enum class AccessKind { Frame = 1, Level, RunningText };

// The player's window: a frame (a top-level widget alone reads as a filler).
class FrameAccessible : public QAccessibleWidget {
public:
    explicit FrameAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Window) {}
};

// A volume bar: the top is the loudest, so its raw value runs the wrong way for a listener.
// Exposed as a slider from 0 to 100, the percent of the bar's travel from the bottom.
class LevelAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelAccessible(QScrollBar* bar) : QAccessibleWidget(bar, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QStringLiteral("%1%").arg(percent());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return percent(); }
    // As the user would move it: the bar's own action, and so its handler.
    void setCurrentValue(const QVariant& value) override {
        const double wanted = std::clamp(value.toDouble(), 0.0, 100.0);
        bar()->setSliderPosition(bar()->maximum() -
                                 static_cast<int>(std::lround(wanted * bar()->maximum() / 100.0)));
    }
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    QScrollBar* bar() const { return static_cast<QScrollBar*>(widget()); }
    int percent() const {
        const int span = bar()->maximum() - bar()->minimum();
        if (span <= 0) return 0;
        return static_cast<int>(std::lround((bar()->maximum() - bar()->value()) * 100.0 / span));
    }
};

// A label whose text runs with the clock: named once, its text read on request as its
// description; the events that announce it are paced elsewhere (ClockAnnouncer).
class RunningTextAccessible : public QAccessibleWidget {
public:
    explicit RunningTextAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description || t == QAccessible::Value)
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* accessibleFor(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    switch (static_cast<AccessKind>(widget->property(kAccessKind).toInt())) {
        case AccessKind::Frame:
            return new FrameAccessible(widget);
        case AccessKind::Level:
            if (auto* bar = qobject_cast<QScrollBar*>(widget)) return new LevelAccessible(bar);
            return nullptr;
        case AccessKind::RunningText:
            if (auto* label = qobject_cast<QLabel*>(widget))
                return new RunningTextAccessible(label);
            return nullptr;
    }
    return nullptr;
}

void mark(QWidget* widget, AccessKind kind) {
    widget->setProperty(kAccessKind, static_cast<int>(kind));
    // An interface Qt made while the widget was built (a label's first text asks for one) is
    // kept and would stand in for ours.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

struct Naming {
    QWidget* widget;
    const char* name;
    const char* tip;  // nullptr: the control does nothing of its own
};

}  // namespace

void nameForm1Controls(QWidget* form, const Form1Controls& c) {
    static const bool installed = [] {
        QAccessible::installFactory(&accessibleFor);
        return true;
    }();
    (void)installed;
    mark(form, AccessKind::Frame);
    for (QScrollBar* bar : {c.VScroll1, c.VScroll2, c.VScroll3, c.VScroll4, c.VScroll5, c.VScroll6})
        mark(bar, AccessKind::Level);
    for (QLabel* label : {c.Label15, c.Label13, c.Label10, c.Label12})
        mark(label, AccessKind::RunningText);

    const Naming names[] = {
        {c.Command1, "Deck 1 play", "Play deck 1"},
        {c.Command3, "Deck 1 stop", "Stop deck 1"},
        {c.Command4, "Deck 1 pause", "Pause or resume deck 1"},
        {c.Command5, "Back 10 seconds", "Deck 1 back 10 seconds"},
        {c.Command7, "Forward 10 seconds", "Deck 1 forward 10 seconds"},
        {c.Command11, "Previous track", "Previous playlist entry into deck 1"},
        {c.Command10, "Next track", "Next playlist entry into deck 1"},
        {c.Slider1, "Deck 1 progress", nullptr},
        {c.VScroll5, "Deck 1 volume", "Deck 1 volume"},
        {c.Label15, "Deck 1 elapsed time", nullptr},
        {c.Label13, "Deck 1 percent played", nullptr},
        {c.VScroll1, "Master volume", "Sound card: master volume"},
        {c.VScroll2, "Wave volume", "Sound card: wave volume"},
        {c.VScroll3, "Bass", "Sound card: bass"},
        {c.VScroll4, "Treble", "Sound card: treble"},
        {c.Command6, "Play Dir", "Play every MP3 file of a folder (Ctrl+Shift+O)"},
        {c.Command2, "Play File", "Play one MP3 file (Ctrl+O)"},
        {c.Check1, "Joystick", "Fade the decks with a joystick; its button plays the next track"},
        {c.Command8, "Edit Tag", nullptr},
        {c.Command9, "Help", nullptr},
        {c.Command12, "About", nullptr},
        {c.Command13, "Deck 2 play", "Play deck 2"},
        {c.Command14, "Deck 2 stop", "Stop deck 2"},
        {c.Command15, "Deck 2 pause", "Pause or resume deck 2"},
        {c.Command16, "Deck 2 back", nullptr},
        {c.Command17, "Deck 2 forward", nullptr},
        {c.Command18, "Deck 2 previous", nullptr},
        {c.Command19, "Deck 2 next", nullptr},
        {c.Slider2, "Deck 2 progress", nullptr},
        {c.VScroll6, "Deck 2 volume", "Deck 2 volume"},
        {c.Label10, "Deck 2 elapsed time", nullptr},
        {c.Label12, "Deck 2 percent played", nullptr},
        {c.List4, "Playlist", "Double-click or Return: the entry into deck 1 or deck 2, by turns"},
        {c.List3, "Errors", nullptr},
        {c.List1, "Mixer names", nullptr},
        {c.ListView1, "Mixer lines", nullptr},
        {c.List2, "Unused list", nullptr},
        {c.Combo1, "Music folders", nullptr},
        {c.HScroll1, "Unused scroll bar", nullptr},
    };
    for (const Naming& n : names) {
        n.widget->setAccessibleName(QString::fromUtf8(n.name));
        if (n.tip) n.widget->setToolTip(QString::fromUtf8(n.tip));
    }
}
