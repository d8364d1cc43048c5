#include <gtest/gtest.h>

#include <QLabel>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>
#include <vector>

#include "monitor/time_text.h"
#include "support/form1_fixture.h"

namespace {

// What one pass of the event loop after a tick painted: the deck's widgets, with the text a
// label showed as it painted, and the window's own paint passes.
struct PaintedPass {
    std::map<const QWidget*, QString> widgets;
    int windowPasses = 0;
};

class PaintRecorder : public QObject {
public:
    PaintRecorder(QWidget* window, std::vector<QWidget*> watched) : window(window) {
        window->installEventFilter(this);
        for (QWidget* widget : watched) widget->installEventFilter(this);
    }
    PaintedPass pass;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (object == window && event->type() == QEvent::UpdateRequest) ++pass.windowPasses;
        if (object != window && event->type() == QEvent::Paint) {
            const auto* widget = static_cast<const QWidget*>(object);
            const auto* label = qobject_cast<const QLabel*>(widget);
            pass.widgets[widget] = label ? label->text() : QString();
        }
        return false;
    }

private:
    QWidget* window;
};

}  // namespace

class PaintPacerTest : public Form1Fixture {};

// Deck 1 ticks by hand for 60 ticks (600 ms at 10 ms a tick) with its position following a
// script. The clock, percentage and progress read the position right after each tick; their
// pixels follow no more often than 20 times a second, no later than 40 ms after a change, all
// of them in one paint of the window, and a stretch that changes nothing paints nothing.
TEST_F(PaintPacerTest, ValuesAreCurrentAtOnceAndTheirPaintsComeTogetherAtAScreensPace) {
    constexpr int kTicks = 60;
    constexpr int kFewestTicksBetweenPaints = 5;  // 20 paints a second at most
    constexpr int kMostTicksALatePaint = 4;       // pixels 40 ms behind at most
    struct Case {
        const char* what;
        double length;
        std::function<double(int)> position;  // at a tick
    } cases[] = {
        // The percentage and the progress move on every tick with the clock.
        {"everything runs", 1, [](int tick) { return tick * 0.01; }},
        {"the clock runs", 100, [](int tick) { return tick * 0.01; }},
        {"paused", 100, [](int) { return 42.0; }},
        {"one step", 100, [](int tick) { return tick < 23 ? 10.0 : 20.0; }},
        {"a few steps", 100, [](int tick) { return tick < 7   ? 1.0
                                                   : tick < 9 ? 2.0
                                                              : 3.5; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        make();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ui().Timer1->stop();  // the test ticks by hand
        deck1.state = Deck::Playing;
        deck1.length = c.length;
        deck1.position = c.position(0);
        // Settled: the first position shown, its paints over.
        for (int tick = 0; tick < 2 * kMostTicksALatePaint; ++tick) {
            form->Timer1_Timer();
            QCoreApplication::processEvents();
        }
        QTest::qWait(20);

        QWidget* clock = ui().Label15;
        const std::vector<QWidget*> deckWidgets{clock, ui().Label13, ui().Slider1};
        PaintRecorder recorder(form.get(), deckWidgets);
        std::map<QWidget*, QString> shown;  // what each widget showed at its last paint
        auto state = [](QWidget* widget) {
            if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
            return QString::number(static_cast<QSlider*>(widget)->value());
        };
        for (QWidget* widget : deckWidgets) shown[widget] = state(widget);
        std::map<QWidget*, int> changedSince;  // the tick of its oldest change not yet painted
        int lastPaint = -kFewestTicksBetweenPaints;
        int paints = 0;
        for (int tick = 1; tick <= kTicks; ++tick) {
            deck1.position = c.position(tick);
            form->Timer1_Timer();
            ASSERT_EQ(ui().Label15->text(), elapsedTimeText(positionMilliseconds(deck1.position)))
                << "tick " << tick;
            for (QWidget* widget : deckWidgets)
                if (state(widget) != shown[widget] && !changedSince.count(widget))
                    changedSince[widget] = tick;

            recorder.pass = {};
            QCoreApplication::processEvents();
            const PaintedPass& pass = recorder.pass;
            if (pass.widgets.empty()) {
                for (const auto& [widget, since] : changedSince)
                    EXPECT_LT(tick - since, kMostTicksALatePaint)
                        << widget->objectName().toStdString() << " changed on tick " << since
                        << ", not painted by tick " << tick;
                continue;
            }
            ++paints;
            EXPECT_GE(tick - lastPaint, kFewestTicksBetweenPaints) << "tick " << tick;
            lastPaint = tick;
            EXPECT_EQ(pass.windowPasses, 1) << "tick " << tick;
            // Everything that changed is painted at once, as it is now; nothing else is.
            for (QWidget* widget : deckWidgets) {
                const bool changed = changedSince.count(widget) > 0;
                EXPECT_EQ(pass.widgets.count(widget) > 0, changed)
                    << widget->objectName().toStdString() << " on tick " << tick;
                shown[widget] = state(widget);
            }
            if (pass.widgets.count(clock)) {
                EXPECT_EQ(pass.widgets.at(clock), shown[clock]);
            }
            changedSince.clear();
        }
        const bool moves = c.position(0) != c.position(kTicks);
        EXPECT_EQ(paints > 0, moves);
        form.reset();
    }
}

// Focus and enabled changes are drawn on a paced widget as on any other: at once where its
// value waits for nothing, and at the next paint (40 ms at most) where a change of its value
// holds it.
TEST_F(PaintPacerTest, FocusAndEnabledChangesAreDrawn) {
    constexpr int kMostTicksALatePaint = 4;
    struct Case {
        const char* what;
        bool running;  // the position moves, so the progress bar waits for its paint
        std::function<void(QWidget*)> change;
    } cases[] = {
        {"focus while paused", false, [](QWidget* bar) { bar->setFocus(Qt::TabFocusReason); }},
        {"focus while playing", true, [](QWidget* bar) { bar->setFocus(Qt::TabFocusReason); }},
        {"disabled while paused", false, [](QWidget* bar) { bar->setEnabled(false); }},
        {"disabled while playing", true, [](QWidget* bar) { bar->setEnabled(false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        make();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        ui().Timer1->stop();  // the test ticks by hand
        deck1.state = c.running ? Deck::Playing : Deck::Paused;
        deck1.length = 1;
        deck1.position = 0.2;
        int tick = 0;
        auto step = [&] {
            ++tick;
            if (c.running) deck1.position += 0.01;
            form->Timer1_Timer();
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 2 * kMostTicksALatePaint + 3; ++i) step();
        QTest::qWait(20);

        QWidget* bar = ui().Slider1;
        PaintRecorder recorder(form.get(), {bar});
        // Between ticks, as the event loop delivers a click or a key.
        step();
        c.change(bar);
        recorder.pass = {};
        QCoreApplication::processEvents();
        bool drawn = recorder.pass.widgets.count(bar) > 0;
        for (int late = 0; !drawn && late < kMostTicksALatePaint; ++late) {
            recorder.pass = {};
            step();
            drawn = recorder.pass.widgets.count(bar) > 0;
        }
        EXPECT_TRUE(drawn);
        form.reset();
    }
}
