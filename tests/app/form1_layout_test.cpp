#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <vector>

#include "app/form1_controls.h"

namespace {

enum class Kind {
    Label,
    Button,
    VScroll,
    HScroll,
    Slider,
    Fill,
    Outline,
    List,
    Combo,
    Check,
    View,
    Media
};

struct Rgb {
    int r, g, b;
};

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kNavy{0, 0, 128};
constexpr Rgb kMagenta{255, 0, 255};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kLightBlue{192, 192, 255};
constexpr Rgb kTeal{0, 192, 192};
constexpr Rgb kWhite{255, 255, 255};  // highlight text
constexpr Rgb kFace{212, 208, 200};   // button face, active border
constexpr std::optional<Rgb> kNone;

struct Control {
    const char* name;
    Kind kind;
    const char* caption;           // UTF-8
    int left, top, width, height;  // twips
    std::optional<Rgb> text;
    std::optional<Rgb> back;
    int points;  // 0: the window's font
    bool bold;
    int tab;      // -1: none
    bool beyond;  // placed outside the design size
};

using K = Kind;
// clang-format off
const Control kControls[] = {
    // Deck 1
    {"Label1",    K::Label,   " Velmor\u00B4s MP3-Player 1", 0, 0, 2775, 375, kMagenta, kNavy, 12, true, 3, false},
    {"Shape1",    K::Fill,    "", 0, 360, 2775, 975, kNone, kBlack, 0, false, -1, false},
    {"Label15",   K::Label,   "Label15", 240, 600, 2295, 495, kGreen, kBlack, 18, true, 7, false},
    {"Label13",   K::Label,   "Label13", 0, 1200, 375, 255, kGreen, kBlack, 0, false, 6, false},
    {"Label19",   K::Label,   "Label19", 600, 1200, 2175, 255, kWhite, kBlack, 0, false, 8, false},
    {"Command1",  K::Button,  "Play", -120, 1440, 735, 255, kNone, kNone, 0, false, 0, false},
    {"Command3",  K::Button,  "Stop", 600, 1440, 615, 255, kNone, kNone, 0, false, 2, false},
    {"Command4",  K::Button,  "II", 1200, 1440, 375, 255, kNone, kNone, 0, false, 4, false},
    {"Command5",  K::Button,  "<", 1560, 1440, 255, 255, kNone, kNone, 0, false, 22, false},
    {"Command7",  K::Button,  ">", 1800, 1440, 255, 255, kNone, kNone, 0, false, 23, false},
    {"Command11", K::Button,  "<<", 2040, 1440, 375, 255, kNone, kNone, 0, false, 20, false},
    {"Command10", K::Button,  ">>", 2400, 1440, 375, 255, kNone, kNone, 0, false, 19, false},
    {"Slider1",   K::Slider,  "", 0, 1680, 4095, 375, kNone, kNone, 0, false, 27, false},
    {"VScroll5",  K::VScroll, "", 2760, 0, 255, 1695, kNone, kNone, 0, false, 40, false},
    {"Shape4",    K::Outline, "", 3120, 0, 135, 1695, kFace, kNone, 0, false, -1, false},
    {"Shape7",    K::Fill,    "", 3120, 1560, 135, 135, kNone, kGreen, 0, false, -1, false},
    {"Label2",    K::Label,   "No Mp3 loaded - click on \"Play Dir\"", 0, 2040, 4575, 1815, kRed, kBlack, 12, true, 16, false},
    // Centre column and mixer
    {"VScroll1",  K::VScroll, "", 3360, 0, 255, 1455, kNone, kNone, 0, false, 29, false},
    {"Label6",    K::Label,   "Vol", 3360, 1440, 255, 255, kBlack, kFace, 0, false, 32, false},
    {"VScroll2",  K::VScroll, "", 3720, 0, 255, 1455, kNone, kNone, 0, false, 30, false},
    {"Label5",    K::Label,   "Wav", 3720, 1440, 255, 255, kBlack, kFace, 0, false, 31, false},
    {"Command6",  K::Button,  "Play Dir", 4080, 0, 975, 255, kFace, kBlack, 0, false, 18, false},
    {"Command2",  K::Button,  "Play File", 4080, 240, 975, 255, kFace, kBlack, 0, false, 1, false},
    {"Check1",    K::Check,   "Joy", 4080, 480, 975, 495, kLightBlue, kBlack, 0, false, 33, false},
    {"Command8",  K::Button,  "Edit Tag", 4080, 960, 975, 255, kNone, kNone, 0, false, 24, false},
    {"Command9",  K::Button,  "Help", 4080, 1200, 975, 255, kNone, kNone, 0, false, 25, false},
    {"Command12", K::Button,  "About", 4080, 1440, 975, 255, kNone, kNone, 0, false, 26, false},
    {"VScroll3",  K::VScroll, "", 5160, 0, 255, 1455, kNone, kNone, 0, false, 35, false},
    {"Label7",    K::Label,   "Bass", 5160, 1440, 255, 255, kBlack, kFace, 0, false, 37, false},
    {"VScroll4",  K::VScroll, "", 5520, 0, 255, 1455, kNone, kNone, 0, false, 36, false},
    {"Label8",    K::Label,   "Treble", 5520, 1440, 255, 255, kBlack, kFace, 0, false, 38, false},
    // Deck 2
    {"Shape5",    K::Outline, "", 5880, 0, 135, 1695, kFace, kNone, 0, false, -1, false},
    {"Shape8",    K::Fill,    "", 5880, 1560, 135, 135, kNone, kGreen, 0, false, -1, false},
    {"VScroll6",  K::VScroll, "", 6120, 0, 255, 1695, kNone, kNone, 0, false, 41, false},
    {"Label9",    K::Label,   "Velmor\u00B4s MP3-Player 2", 6360, 0, 2775, 375, kMagenta, kNavy, 12, true, 43, false},
    {"Shape3",    K::Fill,    "", 6360, 360, 2775, 1095, kNone, kBlack, 0, false, -1, false},
    {"Label10",   K::Label,   "Label10", 6600, 600, 2295, 495, kGreen, kBlack, 18, true, 51, false},
    {"Label12",   K::Label,   "Label12", 6360, 1200, 375, 255, kGreen, kBlack, 0, false, 54, false},
    {"Label14",   K::Label,   "Label14", 6840, 1200, 2295, 255, kWhite, kBlack, 0, false, 55, false},
    {"Command13", K::Button,  "Play", 6360, 1440, 615, 255, kNone, kNone, 0, false, 42, false},
    {"Command14", K::Button,  "Stop", 6960, 1440, 615, 255, kNone, kNone, 0, false, 44, false},
    {"Command15", K::Button,  "II", 7560, 1440, 375, 255, kNone, kNone, 0, false, 45, false},
    {"Command16", K::Button,  "<", 7920, 1440, 255, 255, kNone, kNone, 0, false, 46, false},
    {"Command17", K::Button,  ">", 8160, 1440, 255, 255, kNone, kNone, 0, false, 47, false},
    {"Command18", K::Button,  "<<", 8400, 1440, 375, 255, kNone, kNone, 0, false, 48, false},
    {"Command19", K::Button,  ">>", 8760, 1440, 375, 255, kNone, kNone, 0, false, 49, false},
    {"Slider2",   K::Slider,  "", 5040, 1680, 4095, 375, kNone, kNone, 0, false, 53, false},
    {"Label11",   K::Label,   "", 4560, 2040, 4575, 1815, kRed, kBlack, 12, true, 52, false},
    // Playlist
    {"List4",     K::List,    "", 0, 3840, 9135, 2205, kNone, kTeal, 0, false, 21, false},
    // Beyond the design size
    {"Combo1",    K::Combo,   "Combo1", 0, 6120, 3375, 315, kNone, kTeal, 0, false, 9, true},
    {"MediaPlayer1", K::Media, "", 5160, 6120, 1095, 1455, kNone, kNone, 0, false, 39, true},
    {"List2",     K::List,    "", 6360, 6120, 2295, 1425, kNone, kTeal, 0, false, 11, true},
    {"Label33",   K::Label,   "Label33", 4200, 6360, 1215, 375, kLightBlue, kBlack, 0, false, 13, true},
    {"Label23",   K::Label,   "Label23", 0, 6480, 3375, 255, kLightBlue, kBlack, 0, false, 5, true},
    {"Label22",   K::Label,   "Label22", 4200, 6840, 1215, 375, kLightBlue, kBlack, 0, false, 14, true},
    {"Label4",    K::Label,   "Mixer-List:", 0, 6960, 975, 255, kLightBlue, kBlack, 0, false, 17, true},
    {"Label3",    K::Label,   "Errors:", 2040, 6960, 975, 255, kLightBlue, kBlack, 0, false, 15, true},
    {"List1",     K::List,    "", 0, 7320, 1935, 840, kNone, kTeal, 0, false, 10, true},
    {"List3",     K::List,    "", 2040, 7320, 3975, 840, kNone, kTeal, 0, false, 12, true},
    {"HScroll1",  K::HScroll, "", 360, 8280, 4455, 255, kNone, kNone, 0, false, 28, true},
    {"ListView1", K::View,    "", 9240, 0, 2295, 6135, kNone, kNone, 0, false, 34, true},
    {"MediaPlayer2", K::Media, "", 11280, 1440, 615, 735, kNone, kNone, 0, false, 50, true},
};
// clang-format on

QRect pixels(const Control& c) {
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    return {px(c.left), px(c.top), px(c.width), px(c.height)};
}

QColor toColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

bool isFocusable(Kind kind) {
    return kind != K::Label && kind != K::Fill && kind != K::Outline && kind != K::Media;
}

bool hasKind(QWidget* w, Kind kind) {
    switch (kind) {
        case K::Label:
            return qobject_cast<QLabel*>(w);
        case K::Button:
            return qobject_cast<QPushButton*>(w);
        case K::VScroll: {
            auto* bar = qobject_cast<QScrollBar*>(w);
            return bar && bar->orientation() == Qt::Vertical;
        }
        case K::HScroll: {
            auto* bar = qobject_cast<QScrollBar*>(w);
            return bar && bar->orientation() == Qt::Horizontal;
        }
        case K::Slider: {
            auto* slider = qobject_cast<QSlider*>(w);
            return slider && slider->orientation() == Qt::Horizontal;
        }
        case K::Fill: {
            auto* frame = qobject_cast<QFrame*>(w);
            return frame && frame->frameShape() == QFrame::NoFrame && frame->autoFillBackground();
        }
        case K::Outline: {
            auto* frame = qobject_cast<QFrame*>(w);
            return frame && frame->frameShape() == QFrame::Box && frame->lineWidth() == 1 &&
                   !frame->autoFillBackground();
        }
        case K::List:
            return qobject_cast<QListWidget*>(w);
        case K::Combo:
            return qobject_cast<QComboBox*>(w);
        case K::Check:
            return qobject_cast<QCheckBox*>(w);
        case K::View:
            return qobject_cast<QTreeWidget*>(w);
        case K::Media:
            return w->metaObject() == &QFrame::staticMetaObject;
    }
    return false;
}

QString captionOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    return {};
}

QColor textColorOf(QWidget* w, Kind kind) {
    return w->palette().color(kind == K::Button ? QPalette::ButtonText : QPalette::WindowText);
}

QColor backColorOf(QWidget* w, Kind kind) {
    switch (kind) {
        case K::Button:
            return w->palette().color(QPalette::Button);
        case K::List:
        case K::Combo:
            return w->palette().color(QPalette::Base);
        default:
            // Without a filled background the window shows through.
            return w->autoFillBackground() ? w->palette().color(w->backgroundRole()) : QColor();
    }
}

class Form1Layout : public ::testing::Test {
protected:
    void SetUp() override { controls = buildForm1Controls(&form); }

    QWidget* widget(const char* name) {
        return form.findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    }

    QWidget form;
    Form1Controls controls{};
};

TEST_F(Form1Layout, EveryControlMatchesTheTable) {
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        QWidget* w = widget(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(hasKind(w, c.kind));
        EXPECT_EQ(w->geometry(), pixels(c));
        EXPECT_EQ(captionOf(w), QString::fromUtf8(c.caption));
        if (c.text) {
            EXPECT_EQ(textColorOf(w, c.kind), toColor(*c.text));
        }
        if (c.back) {
            EXPECT_EQ(backColorOf(w, c.kind), toColor(*c.back));
        }
        EXPECT_EQ(w->font().pointSize(), c.points ? c.points : 8);
        EXPECT_EQ(w->font().bold(), c.bold);
        EXPECT_EQ(w->font().styleHint(), QFont::SansSerif);
        EXPECT_EQ(bool(w->focusPolicy() & Qt::TabFocus), isFocusable(c.kind));
        EXPECT_FALSE(w->isHidden());
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
}

TEST_F(Form1Layout, TableNamesEveryControlOnce) {
    QSet<QString> names;
    for (const Control& c : kControls) names.insert(QString::fromLatin1(c.name));
    EXPECT_EQ(names.size(), 62);
    const auto children = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(children.size(), 62);
    for (QWidget* child : children)
        EXPECT_TRUE(names.contains(child->objectName())) << child->objectName().toStdString();
}

TEST_F(Form1Layout, StructHoldsTheNamedControls) {
    const std::vector<std::pair<QObject*, const char*>> members = {
        {controls.Label1, "Label1"},
        {controls.Command1, "Command1"},
        {controls.VScroll5, "VScroll5"},
        {controls.Check1, "Check1"},
        {controls.Label11, "Label11"},
        {controls.List4, "List4"},
        {controls.Combo1, "Combo1"},
        {controls.ListView1, "ListView1"},
        {controls.MediaPlayer2, "MediaPlayer2"},
        {controls.Timer1, "Timer1"},
    };
    for (const auto& [object, name] : members) {
        ASSERT_NE(object, nullptr) << name;
        EXPECT_EQ(object->objectName(), QString::fromLatin1(name));
        EXPECT_EQ(object->parent(), &form) << name;
    }
}

TEST_F(Form1Layout, WindowAtDesignSize) {
    EXPECT_EQ(form.size(), QSize(608, 405));
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.palette().color(QPalette::Window), toColor(kBlack));
    EXPECT_EQ(form.palette().color(QPalette::WindowText), toColor(kFace));
    EXPECT_EQ(form.font().pointSize(), 8);
    // The user may enlarge the window to uncover the controls beyond it.
    EXPECT_GT(form.maximumWidth(), 608);
    EXPECT_GT(form.maximumHeight(), 405);
}

TEST_F(Form1Layout, IconHasBothSizesInSixteenColours) {
    const QIcon icon = form.windowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(sizes.contains(QSize(size, size)));
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        QSet<QRgb> colours;
        int opaque = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qAlpha(pixel) == 0) continue;
                ++opaque;
                colours.insert(pixel);
            }
        }
        EXPECT_GT(opaque, size * size / 3);
        EXPECT_LE(colours.size(), 16);
    }
}

TEST_F(Form1Layout, RangesOfBarsAndSliders) {
    struct Range {
        const char* name;
        int maximum, singleStep, pageStep;
    };
    const Range ranges[] = {
        {"VScroll1", 32767, 1, 1}, {"VScroll2", 32767, 1, 1}, {"VScroll3", 32767, 1, 1},
        {"VScroll4", 32767, 1, 1}, {"VScroll5", 32767, 1, 1}, {"VScroll6", 32767, 1, 1},
        {"HScroll1", 100, 1, 1},   {"Slider1", 100, 1, 10},   {"Slider2", 100, 1, 10},
    };
    for (const Range& r : ranges) {
        SCOPED_TRACE(r.name);
        auto* bar = qobject_cast<QAbstractSlider*>(widget(r.name));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), r.maximum);
        EXPECT_EQ(bar->singleStep(), r.singleStep);
        EXPECT_EQ(bar->pageStep(), r.pageStep);
        EXPECT_EQ(bar->value(), 0);
    }
}

TEST_F(Form1Layout, InitialSettingsOfSingleControls) {
    EXPECT_EQ(controls.Timer1->interval(), 10);
    EXPECT_FALSE(controls.Timer1->isActive());
    EXPECT_FALSE(controls.Check1->isChecked());
    EXPECT_TRUE(controls.Combo1->isEditable());
    EXPECT_EQ(controls.ListView1->columnCount(), 0);
    EXPECT_FALSE(controls.ListView1->rootIsDecorated());
    EXPECT_TRUE(controls.Label2->wordWrap());
    EXPECT_TRUE(controls.Label11->wordWrap());
    EXPECT_EQ(controls.List4->count(), 0);
}

TEST_F(Form1Layout, TabOrderFollowsTabColumn) {
    std::vector<const Control*> expected;
    QSet<QWidget*> focusable;
    for (const Control& c : kControls) {
        if (c.tab < 0 || !isFocusable(c.kind)) continue;
        expected.push_back(&c);
        focusable.insert(widget(c.name));
    }
    std::ranges::sort(expected, {}, &Control::tab);
    ASSERT_EQ(expected.front()->name, std::string("Command1"));

    // The chain also passes the controls' inner widgets; only the named ones count.
    QStringList walked;
    QWidget* start = widget("Command1");
    QWidget* w = start;
    do {
        if (focusable.contains(w)) walked << w->objectName();
        w = w->nextInFocusChain();
    } while (w != start);

    QStringList names;
    for (const Control* c : expected) names << QString::fromLatin1(c->name);
    EXPECT_EQ(walked, names);
}

TEST_F(Form1Layout, ControlsBeyondDesignSizeAreOutOfSight) {
    const QRect client(QPoint(0, 0), QSize(608, 405));
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(widget(c.name)->geometry().intersects(client), !c.beyond);
    }
}

TEST_F(Form1Layout, LabelTextsFitTheirWidths) {
    struct Fit {
        const char* name;
        QString widest;  // the longest text the label shows; empty: its caption
    };
    const Fit fits[] = {
        {"Label1", {}},
        {"Label9", {}},
        {"Label15", "00:00:00.000"},
        {"Label10", "00:00:00.000"},
        {"Label13", "100%"},
        {"Label12", "100%"},
        {"Label6", {}},
        {"Label5", {}},
        {"Label7", {}},
        {"Label8", {}},
        {"Label19", "Playing"},
        {"Label14", "Stopped"},
    };
    for (const Fit& f : fits) {
        SCOPED_TRACE(f.name);
        auto* label = qobject_cast<QLabel*>(widget(f.name));
        ASSERT_NE(label, nullptr);
        const QString text = f.widest.isEmpty() ? label->text() : f.widest;
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(text),
                  label->contentsRect().width());
    }
}

TEST_F(Form1Layout, DisplayPanelsLieUnderTheirLabels) {
    const QObjectList& stack = form.children();  // bottom first
    for (const char* panelName : {"Shape1", "Shape3"}) {
        QWidget* panel = widget(panelName);
        int covered = 0;
        for (QLabel* label : form.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            if (!label->geometry().intersects(panel->geometry())) continue;
            ++covered;
            EXPECT_GT(stack.indexOf(label), stack.indexOf(panel))
                << label->objectName().toStdString() << " under " << panelName;
        }
        EXPECT_EQ(covered, 4) << panelName;  // the title and the three display labels
    }
}

TEST_F(Form1Layout, DisplayLabelsAndGreenSquaresShow) {
    form.show();
    for (const char* name : {"Label1", "Label15", "Label13", "Label19", "Label9", "Label10",
                             "Label12", "Label14", "Shape7", "Shape8"}) {
        SCOPED_TRACE(name);
        QWidget* w = widget(name);
        EXPECT_EQ(form.childAt(w->geometry().center()), w);
    }
}

}  // namespace
