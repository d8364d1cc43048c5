#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

// Writes a control only when what it shows changes, so that nothing repaints needlessly.
void setTextIfChanged(QLabel* label, const QString& text);
void setTextColorIfChanged(QWidget* widget, const QColor& color);
// A colour value with red in the lowest byte, then green, then blue.
QColor colorFromBgr(unsigned value);
