#include "support/scroll_drag.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

void dragThumb(QScrollBar* bar, double fraction) {
    bar->setValue(0);
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, bar);
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                      QStyle::SC_ScrollBarGroove, bar);
    const QPoint start = thumb.center();
    const int travel = groove.height() - thumb.height();
    const QPoint end = start + QPoint(0, int(travel * fraction + (fraction >= 1 ? 5 : 0)));
    QTest::mousePress(bar, Qt::LeftButton, {}, start);
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
        const QPoint at = start + (end - start) * i / kSteps;
        QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         {});
        QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, end);
}
