#include "app/form1_icon.h"

#include <QPainter>
#include <QPixmap>
#include <cassert>

// Drawn on a 16-unit grid without antialiasing, so every size keeps to the 16 classic colours.
QImage paintForm1Icon(int size) {
    assert(size > 0);
    const QColor black(0, 0, 0);
    const QColor grey(128, 128, 128);
    const QColor silver(192, 192, 192);
    const QColor white(255, 255, 255);
    const QColor navy(0, 0, 128);
    const QColor teal(0, 128, 128);
    const QColor yellow(255, 255, 0);

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.scale(size / 16.0, size / 16.0);

    // The disc, lit from the top left, with its label ring and hole.
    p.setPen(Qt::NoPen);
    p.setBrush(grey);
    p.drawEllipse(QRectF(0, 0, 15, 15));
    p.setBrush(silver);
    p.drawEllipse(QRectF(1, 1, 13, 13));
    p.setBrush(white);
    p.drawPie(QRectF(2, 2, 11, 11), 100 * 16, 60 * 16);
    p.setBrush(teal);
    p.drawEllipse(QRectF(5, 5, 5, 5));
    p.setBrush(black);
    p.drawRect(QRectF(7, 7, 1, 1));

    // An eighth note in front of the lower right of the disc.
    p.setBrush(navy);
    p.drawEllipse(QRectF(8, 12, 4, 3));
    p.drawRect(QRectF(11, 4, 1, 9.5));
    p.drawRect(QRectF(12, 4, 2, 1));
    p.drawRect(QRectF(13, 5, 2, 1));
    p.drawRect(QRectF(14, 6, 1, 2));
    p.setBrush(yellow);
    p.drawRect(QRectF(9, 12.5, 1, 1));
    p.end();
    return image;
}

QIcon makeForm1Icon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(paintForm1Icon(16)));
    icon.addPixmap(QPixmap::fromImage(paintForm1Icon(32)));
    return icon;
}
