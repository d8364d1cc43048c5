// The player's window on the real components as the program builds it, sending its paints as
// the program does (the desktop session around it, MPRIS and the like, left out), playing on both
// decks as a user starts them: DIR through the command line's path ("Play Dir" without the dialog),
// then a double-click on the playlist's first entry and deck 2's "Play". Runs until it is ended;
// the whole-program benchmark measures it from outside.
//
// usage: two_deck_player DIR SETTINGS_FILE
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/form1.h"
#include "app/real_components.h"
#include "desktop/x11_paint_transport.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DIR SETTINGS_FILE\n", argv[0]);
        return 2;
    }
    sendPaintsWithinRequests();
    QApplication app(argc, argv);
    QApplication::setApplicationName("velmor-mp3-player");
    Form1* form = createWindowOnRealComponents(SettingsPaths(std::string(argv[2])));
    form->show();
    const std::string dir = argv[1];
    QTimer::singleShot(0, form, [form, dir] { form->openPath(dir); });
    QTimer::singleShot(1000, form, [form] {
        const Form1Controls& ui = form->controls();
        QListWidget* list = ui.List4;
        if (list->count() == 0) {
            std::fputs("two_deck_player: the playlist is empty\n", stderr);
            std::_Exit(1);
        }
        const QRect entry = list->visualItemRect(list->item(0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry.center());
        QTest::mouseClick(ui.Command13, Qt::LeftButton);
        std::printf("deck 1: %s, deck 2: %s\n", qPrintable(ui.Label19->text()),
                    qPrintable(ui.Label14->text()));
        std::fflush(stdout);
    });
    return app.exec();
}
