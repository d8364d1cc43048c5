#include "app/glyph_cache_label.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// The elapsed-time labels' look: bold 18-point sans-serif, squeezed to fit, on black.
QFont clockFont() {
    QFont font(QStringLiteral("Sans Serif"), 18, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    font.setStretch(83);
    return font;
}

template <class Label>
void style(Label& label, const QColor& text, const QFont& font) {
    label.setTextFormat(Qt::PlainText);
    label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette;
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Window, Qt::black);
    label.setPalette(palette);
    label.setAutoFillBackground(true);
    label.setFont(font);
    label.setGeometry(16, 40, 153, 33);
}

// Largest difference of one colour channel between two images of one size.
int largestDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

int inkPixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int row = 0; row < rgb.height(); ++row)
        for (int col = 0; col < rgb.width(); ++col) count += (rgb.pixel(col, row) & 0xffffff) != 0;
    return count;
}

TEST(GlyphCacheLabel, PaintsWhatAnOrdinaryLabelPaints) {
    struct Case {
        const char* text;
        QColor color;
        int stretch;  // 0: unstretched
    } cases[] = {
        {"00:00:00.000", QColor(0, 255, 0), 83},
        {"01:23:45.678", QColor(0, 255, 0), 83},
        {"09:06:07.500", QColor(205, 3, 0), 83},
        {"111:06:40.999", QColor(0, 255, 0), 83},  // wider than the label: clipped alike
        {"100%", QColor(0, 255, 0), 0},
        {"-3.25, +7/8", QColor(255, 255, 255), 0},
        {"Label15", QColor(0, 255, 0), 83},  // letters: painted as any label's
        {"", QColor(0, 255, 0), 83},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QFont font = clockFont();
        if (c.stretch == 0) font.setStretch(QFont::Unstretched);
        QLabel plain(QString::fromUtf8(c.text));
        GlyphCacheLabel cached(QString::fromUtf8(c.text));
        style(plain, c.color, font);
        style(cached, c.color, font);
        const QImage expected = plain.grab().toImage();
        const QImage painted = cached.grab().toImage();
        ASSERT_EQ(painted.size(), expected.size());
        // Glyphs composited from the cache may round one step apart from glyphs drawn in place.
        EXPECT_LE(largestDifference(painted, expected), 1);
        EXPECT_EQ(inkPixels(painted) > 0, !QString::fromUtf8(c.text).isEmpty());
    }
}

TEST(GlyphCacheLabel, FollowsChangesOfTextColourAndFont) {
    // One label through the changes a running clock, the tint and the window make; each step
    // must look like a fresh ordinary label with that text, colour and size.
    struct Step {
        const char* text;
        QColor color;
        int pointSize;
    } steps[] = {
        {"00:00:01.000", QColor(0, 255, 0), 18}, {"00:00:01.010", QColor(0, 255, 0), 18},
        {"00:00:01.019", QColor(0, 255, 0), 18}, {"00:00:09.999", QColor(0, 255, 0), 18},
        {"00:00:10.000", QColor(0, 255, 0), 18}, {"00:00:10.000", QColor(205, 3, 0), 18},
        {"00:00:10.011", QColor(205, 3, 0), 18}, {"111:06:40.999", QColor(205, 3, 0), 18},
        {"00:00:00.000", QColor(205, 3, 0), 18}, {"", QColor(205, 3, 0), 18},
        {"01:02:05.250", QColor(205, 3, 0), 18}, {"01:02:05.250", QColor(205, 3, 0), 12},
        {"12:34:56.789", QColor(255, 0, 0), 12}, {"Label10", QColor(255, 0, 0), 12},
        {"12:34:56.789", QColor(0, 255, 0), 18},
    };
    GlyphCacheLabel cached(QString{});
    style(cached, steps[0].color, clockFont());
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.text) + " " + s.color.name().toStdString() + " " +
                     std::to_string(s.pointSize));
        QFont font = clockFont();
        font.setPointSize(s.pointSize);
        QLabel plain(QString::fromUtf8(s.text));
        style(plain, s.color, font);
        style(cached, s.color, font);
        cached.setText(QString::fromUtf8(s.text));
        EXPECT_LE(largestDifference(cached.grab().toImage(), plain.grab().toImage()), 1);
    }
}

TEST(GlyphCacheLabel, RepaintsAnyPartOfItself) {
    // A repaint of part of the label, cutting through character cells, paints that part
    // exactly as a whole repaint would.
    const QRect parts[] = {{0, 0, 153, 33},  {0, 0, 20, 33},  {37, 5, 9, 20},
                           {140, 0, 13, 33}, {70, 30, 60, 3}, {152, 32, 1, 1}};
    GlyphCacheLabel cached(QStringLiteral("00:00:00.000"));
    QLabel plain(QStringLiteral("01:23:45.678"));
    style(cached, QColor(0, 255, 0), clockFont());
    style(plain, QColor(0, 255, 0), clockFont());
    cached.grab();  // a face for the first text
    cached.setText(plain.text());
    const QImage expected = plain.grab().toImage();
    for (const QRect& part : parts) {
        SCOPED_TRACE(QStringLiteral("%1,%2 %3x%4")
                         .arg(part.x())
                         .arg(part.y())
                         .arg(part.width())
                         .arg(part.height())
                         .toStdString());
        const qreal ratio = expected.devicePixelRatio();
        QImage painted(expected.size(), QImage::Format_RGB32);
        painted.setDevicePixelRatio(ratio);
        painted.fill(Qt::magenta);
        // The region's corner lands on the target offset.
        cached.render(&painted, part.topLeft(), QRegion(part), QWidget::DrawChildren);
        const QRect pixels(part.topLeft() * ratio, part.size() * ratio);
        EXPECT_LE(largestDifference(painted.copy(pixels), expected.copy(pixels)), 1);
    }
}

TEST(GlyphCacheLabel, TextChangesRepaintNeitherParentNorPanelBelow) {
    // Counts the paints of a widget standing for the window and for the panel under the label.
    class CountingWidget : public QWidget {
    public:
        using QWidget::QWidget;
        int paints = 0;

    protected:
        void paintEvent(QPaintEvent*) override { ++paints; }
    };
    CountingWidget window;
    window.resize(200, 100);
    CountingWidget panel(&window);
    panel.setGeometry(0, 20, 200, 60);
    GlyphCacheLabel label(QStringLiteral("00:00:00.000"), &window);
    style(label, QColor(0, 255, 0), clockFont());
    label.setAutoFillBackground(false);  // opaque by itself
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    window.paints = panel.paints = 0;
    for (int ms = 10; ms <= 200; ms += 10) {
        label.setText(QStringLiteral("00:00:00.%1").arg(ms, 3, 10, QLatin1Char('0')));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(window.paints, 0);
    EXPECT_EQ(panel.paints, 0);
    // And what the window shows is the last text.
    QLabel plain(label.text());
    style(plain, QColor(0, 255, 0), clockFont());
    const QImage shown =
        label.window()->windowHandle()->screen()->grabWindow(window.winId()).toImage();
    const QImage expected = plain.grab().toImage();
    const qreal ratio = expected.devicePixelRatio();
    EXPECT_LE(largestDifference(shown.copy(QRect(label.pos() * ratio, expected.size())), expected),
              1);
}

}  // namespace
