#include "shared/widget_text.h"

#include <QLabel>
#include <QPalette>

void setTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void setTextColorIfChanged(QWidget* widget, const QColor& color) {
    if (widget->palette().color(QPalette::WindowText) == color) return;
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    widget->setPalette(p);
}

QColor colorFromBgr(unsigned value) {
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}
