#pragma once

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollBar;
class QSlider;
class QTimer;
class QTreeWidget;
class QWidget;

// The window's controls under their given names; all are children of the window.
struct Form1Controls {
    // Deck 1
    QLabel* Label1;          // deck title
    QFrame* Shape1;          // display panel
    QLabel* Label15;         // elapsed time
    QLabel* Label13;         // percent
    QLabel* Label19;         // state word
    QPushButton* Command1;   // "Play"
    QPushButton* Command3;   // "Stop"
    QPushButton* Command4;   // "II"
    QPushButton* Command5;   // "<"
    QPushButton* Command7;   // ">"
    QPushButton* Command11;  // "<<"
    QPushButton* Command10;  // ">>"
    QSlider* Slider1;        // progress 0..100
    QScrollBar* VScroll5;    // deck-1 volume
    QFrame* Shape4;
    QFrame* Shape7;
    QLabel* Label2;  // file name

    // Centre column and mixer
    QScrollBar* VScroll1;  // master
    QLabel* Label6;
    QScrollBar* VScroll2;  // wave
    QLabel* Label5;
    QPushButton* Command6;  // "Play Dir"
    QPushButton* Command2;  // "Play File"
    QCheckBox* Check1;      // "Joy"
    QPushButton* Command8;
    QPushButton* Command9;
    QPushButton* Command12;
    QScrollBar* VScroll3;  // bass
    QLabel* Label7;
    QScrollBar* VScroll4;  // treble
    QLabel* Label8;

    // Deck 2
    QFrame* Shape5;
    QFrame* Shape8;
    QScrollBar* VScroll6;  // deck-2 volume
    QLabel* Label9;
    QFrame* Shape3;
    QLabel* Label10;         // elapsed time
    QLabel* Label12;         // percent
    QLabel* Label14;         // state word
    QPushButton* Command13;  // "Play"
    QPushButton* Command14;  // "Stop"
    QPushButton* Command15;  // "II"
    QPushButton* Command16;
    QPushButton* Command17;
    QPushButton* Command18;
    QPushButton* Command19;
    QSlider* Slider2;
    QLabel* Label11;  // file name

    // Playlist
    QListWidget* List4;

    // Beyond the design size
    QComboBox* Combo1;
    QFrame* MediaPlayer1;  // where deck 1's player sits; the sound itself is a component
    QListWidget* List2;
    QLabel* Label33;
    QLabel* Label23;
    QLabel* Label22;  // status caption
    QLabel* Label4;
    QLabel* Label3;
    QListWidget* List1;  // mixer names
    QListWidget* List3;  // "Errors:"
    QScrollBar* HScroll1;
    QTreeWidget* ListView1;  // mixer lines
    QFrame* MediaPlayer2;

    // Invisible
    QTimer* Timer1;
};

// Creates every control on `form` at its place, with captions, colours, fonts, ranges and tab
// order, and sizes the form's client area. Connects nothing.
Form1Controls buildForm1Controls(QWidget* form);
