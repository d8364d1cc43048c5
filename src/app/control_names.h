#pragma once

struct Form1Controls;
class QWidget;

// What a screen reader speaks for each control, and the tooltips of the controls that act
// (their action and shortcut). The captions stay as they are: "II" and "<<" are what the
// window shows, "Deck 1 pause" and "Previous track" what is spoken. Also makes the window a
// frame named by its caption, the volume bars sliders whose value is the percent of full
// (100 the loudest), and the running clock labels readable without a stream of events.
void nameForm1Controls(QWidget* form, const Form1Controls& controls);
