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
        EXPECT_TRUE(image.hasAlphaChannel());

        QSet<QRgb> colours;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (qAlpha(image.pixel(x, y)) != 0) colours.insert(image.pixel(x, y));
        EXPECT_LE(colours.size(), 16) << "no blended edge colours";

        // Against the finest size, cell by cell: outlines snap to whole pixels, so cells along
        // them may differ (the 16 px drawing the most, 36); a wrong scale spoils most cells.
        int differing = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (cellColour(image, x, y) != cellColour(reference, x, y)) ++differing;
        EXPECT_LE(differing, 40) << "of 256 grid cells";
    }
}

TEST(Form1Icon, LandmarksOfTheDrawing) {
    const struct {
        int x, y;  // grid cell
        QColor colour;
        const char* what;
    } landmarks[] = {
        {0, 0, Qt::transparent, "corner outside the disc"},
        {15, 15, Qt::transparent, "corner outside the disc"},
        {7, 7, QColor(0, 0, 0), "hole"},
        {6, 7, QColor(0, 128, 128), "label ring"},
        {3, 9, QColor(192, 192, 192), "disc"},
        {4, 4, QColor(255, 255, 255), "reflection"},
        {0, 7, QColor(128, 128, 128), "rim"},
        {11, 8, QColor(0, 0, 128), "note's stem"},
    };
    for (int size : {16, 48, 256}) {
        const QImage image = paintForm1Icon(size);
        for (const auto& mark : landmarks) {
            SCOPED_TRACE(testing::Message() << size << " px, " << mark.what);
            EXPECT_EQ(QColor::fromRgba(cellColour(image, mark.x, mark.y)), mark.colour);
        }
    }
}

}  // namespace
