#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QRect>
#include <QString>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

// A label for text that changes a few characters at a time, many times a second (a running
// clock). It keeps its face as an image made of character cells rendered once: a new text
// copies in the cells that differ, and a repaint is one opaque copy, so neither a text layout
// nor the widgets under the label are involved. Text the cells cannot reproduce exactly
// (letters, word wrap, other alignments, disabled) is painted as any label's.
class GlyphCacheLabel : public QLabel {
    Q_OBJECT
public:
    explicit GlyphCacheLabel(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // One glyph in the text colour on transparent, placed as the label would place it at a
    // given sub-pixel origin. Columns are relative to the character's pixel column.
    struct Glyph {
        QImage image;
        int left = 0;
        int inkLeft = 0;  // the columns that hold ink: [inkLeft, inkRight)
        int inkRight = 0;
    };
    // A cell's pixels follow from its width and the glyphs whose ink reaches into it (its own
    // and at most its two neighbours'), each as character, origin and offset.
    struct CellKey {
        int width = -1;
        std::array<uint64_t, 3> glyphs{};  // left neighbour, own, right neighbour; 0: none
        bool operator==(const CellKey&) const = default;
    };
    struct CellKeyHash {
        size_t operator()(const CellKey& key) const;
    };

    bool configurationAllowsCells(qreal ratio) const;
    void dropCacheIfStale(int ratio);
    // Brings the face up to the shown text; false where cells cannot show it exactly.
    bool refreshFace();
    // True when the layout changed, which moves every cell.
    bool layOut(const QString& shown);
    // Whether glyph `index` keeps its ink within its own and its neighbours' cells.
    bool staysWithinNeighbours(int index) const;
    const Glyph& glyph(QChar character, int fraction);
    CellKey cellKey(int index) const;
    const QImage& cell(const CellKey& key, int index);

    // What the cache was made for.
    QFont cachedFont;
    QColor cachedColor;
    QColor cachedBackground;
    int cachedRatio = 0;
    QRect cachedContents;
    bool tabularDigits = false;

    // The layout of the text's shape (digits alike where they share one width): per
    // character its pixel column and 1/64-pixel origin within it. Cell i spans columns[i] up
    // to columns[i + 1]; the last entry is the contents' right end.
    QString layoutKey;
    std::vector<int> columns;
    std::vector<int> fractions;

    // The face: the contents as painted, and what each cell in it holds.
    QImage face;
    QString faceText;
    bool faceValid = false;
    std::vector<const Glyph*> faceGlyphs;
    std::vector<CellKey> faceKeys;

    // Node-based, so the pointers in faceGlyphs stay valid while glyphs are added.
    std::unordered_map<uint32_t, Glyph> glyphs;
    std::unordered_map<CellKey, QImage, CellKeyHash> cells;
};
