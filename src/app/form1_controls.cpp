#include "app/form1_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "app/form1_icon.h"
#include "app/glyph_cache_label.h"
#include "shared/scroll_scale.h"

namespace {

const QColor kBlack(0, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kMagenta(255, 0, 255);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kLightBlue(192, 192, 255);
const QColor kTeal(0, 192, 192);
// System colours in their classic values.
const QColor kButtonText(0, 0, 0);
const QColor kMenuText(0, 0, 0);
const QColor kHighlightText(255, 255, 255);
const QColor kActiveBorder(212, 208, 200);
const QColor kButtonFace(212, 208, 200);

constexpr int kClientWidth = 608;
constexpr int kClientHeight = 405;

QRect fromTwips(int left, int top, int width, int height) {
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

// The desktop's sans-serif stands in for the bitmap sans-serif of the design.
QFont sansSerif(int pointSize, bool bold) {
    QFont font(QStringLiteral("Sans Serif"), pointSize, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

struct Look {
    QColor text;
    QColor back;
    std::optional<QFont> font;
};

// The ordinary label of the classic desktop, not the window's colours.
const Look kStandardLabel{kButtonText, kButtonFace, std::nullopt};

// Only the roles set here become the widget's own; the rest follow the window.
void setRoles(QWidget* widget,
              std::initializer_list<std::pair<QPalette::ColorRole, QColor>> roles) {
    QPalette palette;
    for (const auto& [role, color] : roles) palette.setColor(role, color);
    widget->setPalette(palette);
}

// The desktop's sans-serif runs wider than the design's font: squeeze a label's font
// horizontally, keeping size and weight, until `widest`, the longest text it will show, fits.
void condenseToFit(QLabel* label, const QString& widest) {
    constexpr int kNarrowest = 50;
    const int room = label->contentsRect().width();
    QFont font = label->font();
    if (QFontMetrics(font).horizontalAdvance(widest) <= room) return;
    for (int stretch = 99; stretch >= kNarrowest; --stretch) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(widest) <= room) break;
    }
    label->setFont(font);
}

class LayoutBuilder {
public:
    explicit LayoutBuilder(QWidget* form) : form_(form) {}

    QLabel* label(const char* name, const QString& caption, QRect rect, int tab, const Look& look) {
        return styleLabel(place(new QLabel(caption, form_), name, rect, tab), look);
    }

    // A label whose text runs with the clock. Of fixed size, so that a new text does not ask
    // the window to lay itself out again.
    QLabel* clockLabel(const char* name, const QString& caption, QRect rect, int tab,
                       const Look& look) {
        QLabel* label =
            styleLabel(place(new GlyphCacheLabel(caption, form_), name, rect, tab), look);
        label->setFixedSize(rect.size());
        return label;
    }

    QLabel* styleLabel(QLabel* label, const Look& look) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setRoles(label, {{QPalette::WindowText, look.text}, {QPalette::Window, look.back}});
        label->setAutoFillBackground(true);
        if (look.font) label->setFont(*look.font);
        return label;
    }

    QPushButton* button(const char* name, const QString& caption, QRect rect, int tab) {
        return place(new QPushButton(caption, form_), name, rect, tab);
    }

    QScrollBar* scrollBar(const char* name, Qt::Orientation orientation, int maximum, QRect rect,
                          int tab) {
        auto* bar = place(new QScrollBar(orientation, form_), name, rect, tab);
        bar->setRange(0, maximum);
        bar->setSingleStep(1);
        bar->setPageStep(1);
        bar->setValue(0);
        // Scroll bars take part in the tab order like every other input control.
        bar->setFocusPolicy(Qt::StrongFocus);
        return bar;
    }

    QSlider* slider(const char* name, QRect rect, int tab) {
        auto* slider = place(new QSlider(Qt::Horizontal, form_), name, rect, tab);
        slider->setRange(0, 100);
        slider->setFocusPolicy(Qt::StrongFocus);
        return slider;
    }

    QFrame* filledShape(const char* name, QRect rect, const QColor& fill) {
        auto* shape = place(new QFrame(form_), name, rect, -1);
        shape->setFrameShape(QFrame::NoFrame);
        setRoles(shape, {{QPalette::Window, fill}});
        shape->setAutoFillBackground(true);
        return shape;
    }

    QFrame* outlineShape(const char* name, QRect rect, const QColor& border) {
        auto* shape = place(new QFrame(form_), name, rect, -1);
        shape->setFrameStyle(QFrame::Box | QFrame::Plain);
        shape->setLineWidth(1);
        setRoles(shape, {{QPalette::WindowText, border}});
        shape->setAutoFillBackground(false);
        return shape;
    }

    QListWidget* listBox(const char* name, QRect rect, int tab) {
        auto* list = place(new QListWidget(form_), name, rect, tab);
        setRoles(list, {{QPalette::Base, kTeal}});
        // Rows of one line in one font: the view lays out a playlist of thousands without
        // measuring every row.
        list->setUniformItemSizes(true);
        return list;
    }

    // The media players' sound is a component of its own; this only keeps their places.
    QFrame* mediaPlace(const char* name, QRect rect, int tab) {
        auto* frame = place(new QFrame(form_), name, rect, tab);
        frame->setFocusPolicy(Qt::NoFocus);
        return frame;
    }

    template <class W>
    W* place(W* widget, const char* name, QRect rect, int tab) {
        widget->setObjectName(QString::fromLatin1(name));
        widget->setGeometry(rect);
        if (tab >= 0) tabbed_.emplace_back(tab, widget);
        return widget;
    }

    // Chains the controls that can take focus in the order of their tab indexes.
    void chainTabOrder() {
        std::ranges::sort(tabbed_, {}, &std::pair<int, QWidget*>::first);
        QWidget* previous = nullptr;
        for (const auto& [tab, widget] : tabbed_) {
            if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
            if (previous) QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
    }

private:
    QWidget* form_;
    std::vector<std::pair<int, QWidget*>> tabbed_;
};

void styleWindow(QWidget* form) {
    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("Form1"));
    setRoles(form, {{QPalette::Window, kBlack}, {QPalette::WindowText, kButtonFace}});
    form->setAutoFillBackground(true);
    // Small enough for the captions of the small design controls.
    form->setFont(sansSerif(8, false));
    form->setWindowIcon(makeForm1Icon());
    form->resize(kClientWidth, kClientHeight);
}

}  // namespace

Form1Controls buildForm1Controls(QWidget* form) {
    styleWindow(form);
    LayoutBuilder b(form);
    Form1Controls c{};

    const Look title{kMagenta, kNavy, sansSerif(12, true)};
    const Look elapsed{kGreen, kButtonText, sansSerif(18, true)};
    const Look fileName{kRed, kMenuText, sansSerif(12, true)};
    const Look outside{kLightBlue, kButtonText, std::nullopt};

    // Deck 1
    c.Label1 = b.label("Label1", QStringLiteral(" Velmor\u00B4s MP3-Player 1"),
                       fromTwips(0, 0, 2775, 375), 3, title);
    c.Shape1 = b.filledShape("Shape1", fromTwips(0, 360, 2775, 975), kBlack);
    c.Label15 = b.clockLabel("Label15", QStringLiteral("Label15"), fromTwips(240, 600, 2295, 495),
                             7, elapsed);
    c.Label13 = b.label("Label13", QStringLiteral("Label13"), fromTwips(0, 1200, 375, 255), 6,
                        {kGreen, kButtonText, std::nullopt});
    c.Label19 = b.label("Label19", QStringLiteral("Label19"), fromTwips(600, 1200, 2175, 255), 8,
                        {kHighlightText, kButtonText, std::nullopt});
    c.Command1 = b.button("Command1", QStringLiteral("Play"), fromTwips(-120, 1440, 735, 255), 0);
    c.Command3 = b.button("Command3", QStringLiteral("Stop"), fromTwips(600, 1440, 615, 255), 2);
    c.Command4 = b.button("Command4", QStringLiteral("II"), fromTwips(1200, 1440, 375, 255), 4);
    c.Command5 = b.button("Command5", QStringLiteral("<"), fromTwips(1560, 1440, 255, 255), 22);
    c.Command7 = b.button("Command7", QStringLiteral(">"), fromTwips(1800, 1440, 255, 255), 23);
    c.Command11 = b.button("Command11", QStringLiteral("<<"), fromTwips(2040, 1440, 375, 255), 20);
    c.Command10 = b.button("Command10", QStringLiteral(">>"), fromTwips(2400, 1440, 375, 255), 19);
    c.Slider1 = b.slider("Slider1", fromTwips(0, 1680, 4095, 375), 27);
    c.VScroll5 = b.scrollBar("VScroll5", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(2760, 0, 255, 1695), 40);
    c.Shape4 = b.outlineShape("Shape4", fromTwips(3120, 0, 135, 1695), kActiveBorder);
    c.Shape7 = b.filledShape("Shape7", fromTwips(3120, 1560, 135, 135), kGreen);
    c.Label2 = b.label("Label2", QStringLiteral("No Mp3 loaded - click on \"Play Dir\""),
                       fromTwips(0, 2040, 4575, 1815), 16, fileName);
    c.Label2->setWordWrap(true);

    // Centre column and mixer
    c.VScroll1 = b.scrollBar("VScroll1", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(3360, 0, 255, 1455), 29);
    c.Label6 = b.label("Label6", QStringLiteral("Vol"), fromTwips(3360, 1440, 255, 255), 32,
                       kStandardLabel);
    c.VScroll2 = b.scrollBar("VScroll2", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(3720, 0, 255, 1455), 30);
    c.Label5 = b.label("Label5", QStringLiteral("Wav"), fromTwips(3720, 1440, 255, 255), 31,
                       kStandardLabel);
    // A black face as designed; the text takes the window's foreground so it stays readable.
    c.Command6 = b.button("Command6", QStringLiteral("Play Dir"), fromTwips(4080, 0, 975, 255), 18);
    setRoles(c.Command6, {{QPalette::Button, kMenuText}, {QPalette::ButtonText, kButtonFace}});
    c.Command2 =
        b.button("Command2", QStringLiteral("Play File"), fromTwips(4080, 240, 975, 255), 1);
    setRoles(c.Command2, {{QPalette::Button, kMenuText}, {QPalette::ButtonText, kButtonFace}});
    c.Check1 = b.place(new QCheckBox(QStringLiteral("Joy"), form), "Check1",
                       fromTwips(4080, 480, 975, 495), 33);
    setRoles(c.Check1, {{QPalette::WindowText, kLightBlue}, {QPalette::Window, kBlack}});
    c.Check1->setBackgroundRole(QPalette::Window);
    c.Check1->setAutoFillBackground(true);
    c.Check1->setChecked(false);
    c.Command8 =
        b.button("Command8", QStringLiteral("Edit Tag"), fromTwips(4080, 960, 975, 255), 24);
    c.Command9 = b.button("Command9", QStringLiteral("Help"), fromTwips(4080, 1200, 975, 255), 25);
    c.Command12 =
        b.button("Command12", QStringLiteral("About"), fromTwips(4080, 1440, 975, 255), 26);
    c.VScroll3 = b.scrollBar("VScroll3", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(5160, 0, 255, 1455), 35);
    c.Label7 = b.label("Label7", QStringLiteral("Bass"), fromTwips(5160, 1440, 255, 255), 37,
                       kStandardLabel);
    c.VScroll4 = b.scrollBar("VScroll4", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(5520, 0, 255, 1455), 36);
    c.Label8 = b.label("Label8", QStringLiteral("Treble"), fromTwips(5520, 1440, 255, 255), 38,
                       kStandardLabel);

    // Deck 2
    c.Shape5 = b.outlineShape("Shape5", fromTwips(5880, 0, 135, 1695), kActiveBorder);
    c.Shape8 = b.filledShape("Shape8", fromTwips(5880, 1560, 135, 135), kGreen);
    c.VScroll6 = b.scrollBar("VScroll6", Qt::Vertical, ScrollScale::kBottom,
                             fromTwips(6120, 0, 255, 1695), 41);
    c.Label9 = b.label("Label9", QStringLiteral("Velmor\u00B4s MP3-Player 2"),
                       fromTwips(6360, 0, 2775, 375), 43, title);
    c.Shape3 = b.filledShape("Shape3", fromTwips(6360, 360, 2775, 1095), kBlack);
    c.Label10 = b.clockLabel("Label10", QStringLiteral("Label10"), fromTwips(6600, 600, 2295, 495),
                             51, elapsed);
    c.Label12 = b.label("Label12", QStringLiteral("Label12"), fromTwips(6360, 1200, 375, 255), 54,
                        {kGreen, kMenuText, std::nullopt});
    c.Label14 = b.label("Label14", QStringLiteral("Label14"), fromTwips(6840, 1200, 2295, 255), 55,
                        {kHighlightText, kButtonText, std::nullopt});
    c.Command13 =
        b.button("Command13", QStringLiteral("Play"), fromTwips(6360, 1440, 615, 255), 42);
    c.Command14 =
        b.button("Command14", QStringLiteral("Stop"), fromTwips(6960, 1440, 615, 255), 44);
    c.Command15 = b.button("Command15", QStringLiteral("II"), fromTwips(7560, 1440, 375, 255), 45);
    c.Command16 = b.button("Command16", QStringLiteral("<"), fromTwips(7920, 1440, 255, 255), 46);
    c.Command17 = b.button("Command17", QStringLiteral(">"), fromTwips(8160, 1440, 255, 255), 47);
    c.Command18 = b.button("Command18", QStringLiteral("<<"), fromTwips(8400, 1440, 375, 255), 48);
    c.Command19 = b.button("Command19", QStringLiteral(">>"), fromTwips(8760, 1440, 375, 255), 49);
    c.Slider2 = b.slider("Slider2", fromTwips(5040, 1680, 4095, 375), 53);
    c.Label11 = b.label("Label11", QString(), fromTwips(4560, 2040, 4575, 1815), 52,
                        {kRed, kButtonText, sansSerif(12, true)});
    c.Label11->setWordWrap(true);

    // Playlist
    c.List4 = b.listBox("List4", fromTwips(0, 3840, 9135, 2205), 21);

    // Beyond the design size
    c.Combo1 = b.place(new QComboBox(form), "Combo1", fromTwips(0, 6120, 3375, 315), 9);
    c.Combo1->setEditable(true);
    c.Combo1->setEditText(QStringLiteral("Combo1"));
    setRoles(c.Combo1, {{QPalette::Base, kTeal}});
    c.MediaPlayer1 = b.mediaPlace("MediaPlayer1", fromTwips(5160, 6120, 1095, 1455), 39);
    c.List2 = b.listBox("List2", fromTwips(6360, 6120, 2295, 1425), 11);
    c.Label33 = b.label("Label33", QStringLiteral("Label33"), fromTwips(4200, 6360, 1215, 375), 13,
                        outside);
    c.Label23 =
        b.label("Label23", QStringLiteral("Label23"), fromTwips(0, 6480, 3375, 255), 5, outside);
    c.Label22 = b.label("Label22", QStringLiteral("Label22"), fromTwips(4200, 6840, 1215, 375), 14,
                        outside);
    c.Label4 =
        b.label("Label4", QStringLiteral("Mixer-List:"), fromTwips(0, 6960, 975, 255), 17, outside);
    c.Label3 =
        b.label("Label3", QStringLiteral("Errors:"), fromTwips(2040, 6960, 975, 255), 15, outside);
    c.List1 = b.listBox("List1", fromTwips(0, 7320, 1935, 840), 10);
    c.List3 = b.listBox("List3", fromTwips(2040, 7320, 3975, 840), 12);
    // The design's range setting of 100, read as the maximum.
    c.HScroll1 = b.scrollBar("HScroll1", Qt::Horizontal, 100, fromTwips(360, 8280, 4455, 255), 28);
    c.ListView1 = b.place(new QTreeWidget(form), "ListView1", fromTwips(9240, 0, 2295, 6135), 34);
    // The load handler adds the columns.
    c.ListView1->setColumnCount(0);
    c.ListView1->setRootIsDecorated(false);
    c.MediaPlayer2 = b.mediaPlace("MediaPlayer2", fromTwips(11280, 1440, 615, 735), 50);

    // Invisible; the window starts it once its load handler has run.
    c.Timer1 = new QTimer(form);
    c.Timer1->setObjectName(QStringLiteral("Timer1"));
    c.Timer1->setInterval(10);

    // The texts these labels show at run time, fitted to their design widths.
    const QString elapsedWidest = QStringLiteral("00:00:00.000");
    const QString percentWidest = QStringLiteral("100%");
    for (QLabel* label : {c.Label1, c.Label9, c.Label6, c.Label5, c.Label7, c.Label8}) {
        condenseToFit(label, label->text());
    }
    for (QLabel* label : {c.Label15, c.Label10}) condenseToFit(label, elapsedWidest);
    for (QLabel* label : {c.Label13, c.Label12}) condenseToFit(label, percentWidest);

    // The display panels lie under the labels drawn on them.
    c.Shape1->lower();
    c.Shape3->lower();

    b.chainTabOrder();
    return c;
}
