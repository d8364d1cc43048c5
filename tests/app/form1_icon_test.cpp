// The icon at the desktop's sizes is the window's drawing, scaled: the same colours in the same
// places, whatever the size.
#include "app/form1_icon.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QSet>

namespace {

// The colour at the centre of grid cell (x, y) of the drawing's 16 × 16 grid.
QRgb cellColour(const QImage& image, int x, int y) {
    const double cell = image.width() / 16.0;
    return image.pixel(int((x + 0.5) * cell), int((y + 0.5) * cell));
}

TEST(Form1Icon, EverySizeIsTheSameDrawingInSixteenColours) {
    const QImage reference = paintForm1Icon(256);
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage image = paintForm1Icon(size);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the desktop's background shows around it";

        QSet<QRgb> colours;
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (qAlpha(image.pixel(x, y)) != 0) {
                    colours.insert(image.pixel(x, y));
                    ++opaque;
                }
        EXPECT_LE(colours.size(), 16) << "no blended edge colours";
        EXPECT_GT(opaque, size * size / 2) << "the disc fills the square";

        // Against the finest size, cell by cell: outlines snap to whole pixels, so cells along
        // them may differ (the 16 px drawing the most, 36); a wrong scale spoils most cells.
        int differing = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (cellColour(image, x, y) != cellColour(reference, x, y)) ++differing;
        EXPECT_LE(differing, 40) << "of 256 grid cells";
    }
}

}  // namespace
