#include "app/glyph_cache_label.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Characters whose glyphs stand alone: no ligature, kerning pair or mark joins them to a
// neighbour, so each can be drawn by itself where the whole line would put it.
bool isCellCharacter(QChar c) {
    return (c >= u'0' && c <= u'9') || c == u':' || c == u'.' || c == u',' || c == u'%' ||
           c == u'-' || c == u'+' || c == u'/' || c == u' ';
}

// Sub-pixel origins are kept to 1/64 of a pixel, the font engine's own resolution.
constexpr int kFractionSteps = 64;
// Colour, font or size changes drop the cells; this only bounds what other texts add.
constexpr size_t kMostCells = 4096;

// Character, origin and offset of a glyph within a cell, packed for a cell key; never 0.
uint64_t packGlyph(QChar character, int fraction, int offset) {
    return uint64_t(character.unicode()) << 40 | uint64_t(fraction) << 32 | uint32_t(offset) |
           uint64_t(1) << 63;
}

// Copies all of `cell` into `face` at physical column `x`; both are opaque 32-bit images of
// one height.
void copyCell(QImage& face, const QImage& cell, int x) {
    const size_t bytes = size_t(cell.width()) * 4;
    for (int y = 0; y < cell.height(); ++y)
        std::memcpy(face.scanLine(y) + size_t(x) * 4, cell.constScanLine(y), bytes);
}

}  // namespace

size_t GlyphCacheLabel::CellKeyHash::operator()(const CellKey& key) const {
    size_t hash = size_t(key.width);
    for (uint64_t g : key.glyphs) hash = hash * 0x9E3779B97F4A7C15ull + g;
    return hash;
}

GlyphCacheLabel::GlyphCacheLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Every pixel comes from paintEvent, so neither the parent nor the panel under the label
    // repaints when the text changes.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool GlyphCacheLabel::configurationAllowsCells(qreal ratio) const {
    const Qt::Alignment align = alignment();
    return isEnabled() && textFormat() == Qt::PlainText && !wordWrap() && margin() == 0 &&
           (indent() == 0 || (indent() < 0 && frameWidth() == 0)) &&
           (align & Qt::AlignHorizontal_Mask) == Qt::AlignLeft &&
           (align & Qt::AlignVertical_Mask) == Qt::AlignTop &&
           layoutDirection() == Qt::LeftToRight &&
           !(textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard)) &&
           ratio == std::floor(ratio) && !contentsRect().isEmpty();
}

void GlyphCacheLabel::dropCacheIfStale(int ratio) {
    const QColor color = palette().color(foregroundRole());
    const QColor background = palette().color(backgroundRole());
    const QRect contents = contentsRect();
    if (color == cachedColor && background == cachedBackground && ratio == cachedRatio &&
        contents == cachedContents && font() == cachedFont && cells.size() < kMostCells) {
        return;
    }
    cachedColor = color;
    cachedBackground = background;
    cachedRatio = ratio;
    cachedContents = contents;
    cachedFont = font();
    glyphs.clear();
    cells.clear();
    layoutKey.clear();
    columns.clear();
    faceValid = false;
    faceGlyphs.clear();
    faceKeys.clear();
    face = QImage(contents.size() * ratio, QImage::Format_RGB32);
    face.setDevicePixelRatio(ratio);
    face.fill(background);

    const QFontMetricsF metrics(cachedFont, this);
    const qreal zero = metrics.horizontalAdvance(u'0');
    tabularDigits = true;
    for (char16_t digit = u'1'; digit <= u'9'; ++digit)
        tabularDigits = tabularDigits && metrics.horizontalAdvance(QChar(digit)) == zero;
}

bool GlyphCacheLabel::layOut(const QString& shown) {
    // With digits of one width, a clock's origins depend only on where its separators are.
    QString key = shown;
    if (tabularDigits) {
        for (QChar& c : key)
            if (c.isDigit()) c = u'0';
    }
    if (key == layoutKey && !columns.empty()) return false;
    layoutKey = key;
    // The line layout the label's own painting uses, so every glyph lands where it would.
    QTextLayout layout(key, cachedFont, this);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();

    const int contentsEnd = cachedContents.right() + 1;
    const size_t count = size_t(key.size());
    columns.assign(count + 1, contentsEnd);
    fractions.assign(count, 0);
    for (size_t i = 0; i < count; ++i) {
        const qreal origin = cachedContents.left() + line.cursorToX(int(i));
        int column = int(std::floor(origin));
        int fraction = qRound((origin - column) * kFractionSteps);
        if (fraction == kFractionSteps) {
            ++column;
            fraction = 0;
        }
        columns[i] = column;
        fractions[i] = fraction;
    }
    // A new layout puts every cell somewhere else.
    faceKeys.assign(count, CellKey{});
    return true;
}

const GlyphCacheLabel::Glyph& GlyphCacheLabel::glyph(QChar character, int fraction) {
    const uint32_t key = uint32_t(character.unicode()) << 8 | uint32_t(fraction);
    if (auto found = glyphs.find(key); found != glyphs.end()) return found->second;

    // Room for the glyph's ink, its anti-aliased fringe and its advance.
    const QFontMetricsF metrics(cachedFont, this);
    const QRectF ink = metrics.boundingRect(character);
    const int left = int(std::floor(std::min<qreal>(ink.left(), 0))) - 2;
    const int right =
        int(std::ceil(std::max(ink.right(), metrics.horizontalAdvance(character)))) + 3;
    const int width = right - left;
    const int height = cachedContents.height();

    QImage image(QSize(width, height) * cachedRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(cachedRatio);
    // Fonts resolve their pixel size from the device's resolution, as on the widget.
    image.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    image.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setFont(cachedFont);
        painter.setPen(cachedColor);
        const qreal x = -left + qreal(fraction) / kFractionSteps;
        painter.drawText(QRectF(x, 0, width * 2, height), Qt::AlignLeft | Qt::AlignTop,
                         QString(character));
    }
    // The columns the ink really covers decide which cells the glyph reaches into.
    int inkLeft = image.width(), inkRight = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) == 0) continue;
            inkLeft = std::min(inkLeft, x);
            inkRight = std::max(inkRight, x + 1);
        }
    }
    Glyph made{std::move(image), left, 0, 0};
    if (inkLeft < inkRight) {
        made.inkLeft = left + inkLeft / cachedRatio;
        made.inkRight = left + (inkRight + cachedRatio - 1) / cachedRatio;
    }
    return glyphs.emplace(key, std::move(made)).first->second;
}

GlyphCacheLabel::CellKey GlyphCacheLabel::cellKey(int index) const {
    const int contentsEnd = cachedContents.right() + 1;
    const int cellLeft = std::min(columns[size_t(index)], contentsEnd);
    const int cellRight = std::min(columns[size_t(index) + 1], contentsEnd);
    CellKey key;
    key.width = cellRight - cellLeft;
    const int count = int(faceGlyphs.size());
    for (int j = std::max(0, index - 1); j <= std::min(count - 1, index + 1); ++j) {
        const Glyph& g = *faceGlyphs[size_t(j)];
        const int column = columns[size_t(j)];
        if (g.inkLeft == g.inkRight || column + g.inkRight <= cellLeft ||
            column + g.inkLeft >= cellRight) {
            continue;
        }
        key.glyphs[size_t(j - index + 1)] =
            packGlyph(faceText[j], fractions[size_t(j)], column - cellLeft);
    }
    return key;
}

const QImage& GlyphCacheLabel::cell(const CellKey& key, int index) {
    if (auto found = cells.find(key); found != cells.end()) return found->second;
    const int cellLeft = columns[size_t(index)];
    QImage image(QSize(key.width, cachedContents.height()) * cachedRatio, QImage::Format_RGB32);
    image.setDevicePixelRatio(cachedRatio);
    image.fill(cachedBackground);
    {
        QPainter painter(&image);
        // In line order, as the label's own painting lays one glyph over the next.
        for (int j = std::max(0, index - 1); j <= std::min(int(faceGlyphs.size()) - 1, index + 1);
             ++j) {
            const Glyph& g = *faceGlyphs[size_t(j)];
            const int column = columns[size_t(j)];
            if (g.inkLeft == g.inkRight || column + g.inkRight <= cellLeft ||
                column + g.inkLeft >= cellLeft + key.width) {
                continue;
            }
            painter.drawImage(QPoint(column + g.left - cellLeft, 0), g.image);
        }
    }
    return cells.emplace(key, std::move(image)).first->second;
}

bool GlyphCacheLabel::staysWithinNeighbours(int index) const {
    const Glyph& g = *faceGlyphs[size_t(index)];
    if (g.inkLeft == g.inkRight) return true;
    const int count = int(faceGlyphs.size());
    const int column = columns[size_t(index)];
    // Ink left of the contents or right of its end is cut off anyway.
    if (index > 0 && column + g.inkLeft < columns[size_t(index) - 1]) return false;
    const int reachRight = columns[size_t(std::min(index + 2, count))];
    return column + g.inkRight <= reachRight || reachRight > cachedContents.right();
}

bool GlyphCacheLabel::refreshFace() {
    const QString shown = text();
    if (faceValid && shown == faceText) return true;
    if (!std::all_of(shown.begin(), shown.end(), isCellCharacter)) return false;
    const bool everything = layOut(shown) || !faceValid || shown.size() != faceText.size();
    const int count = int(shown.size());
    const QString previous = faceText;
    // Only characters that changed need their glyphs looked up, and only the cells they
    // reach copied.
    const auto changed = [&](int i) {
        return everything || (i >= 0 && i < count && shown[i] != previous[i]);
    };
    faceGlyphs.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        if (changed(i)) faceGlyphs[size_t(i)] = &glyph(shown[i], fractions[size_t(i)]);
    }
    faceValid = false;
    for (int i = 0; i < count; ++i) {
        if (changed(i) && !staysWithinNeighbours(i)) return false;
    }
    faceText = shown;
    if (count == 0) face.fill(cachedBackground);
    const int contentsEnd = cachedContents.right() + 1;
    for (int i = 0; i < count; ++i) {
        if (!changed(i - 1) && !changed(i) && !changed(i + 1)) continue;
        const CellKey key = cellKey(i);
        if (key.width <= 0 || key == faceKeys[size_t(i)]) continue;
        faceKeys[size_t(i)] = key;
        const int cellLeft = std::min(columns[size_t(i)], contentsEnd);
        copyCell(face, cell(key, i), (cellLeft - cachedContents.left()) * cachedRatio);
    }
    faceValid = true;
    return true;
}

void GlyphCacheLabel::paintEvent(QPaintEvent* event) {
    const QRect area = event->rect();
    const qreal ratio = devicePixelRatioF();
    if (configurationAllowsCells(ratio)) {
        dropCacheIfStale(int(ratio));
        if (refreshFace()) {
            QPainter painter(this);
            if (!cachedContents.contains(area)) {
                painter.fillRect(area, palette().brush(backgroundRole()));
                if (frameShape() != QFrame::NoFrame) drawFrame(&painter);
            }
            const QRect shown = area & cachedContents;
            const QRect source((shown.topLeft() - cachedContents.topLeft()) * cachedRatio,
                               shown.size() * cachedRatio);
            painter.drawImage(shown.topLeft(), face, source);
            return;
        }
    }
    {
        QPainter painter(this);
        painter.fillRect(area, palette().brush(backgroundRole()));
    }
    QLabel::paintEvent(event);
}
