// What any Qt window with a 10 ms timer costs on this machine: an empty widget of the
// player's size, shown, and a timer whose handler does nothing. The whole-program benchmark
// measures it beside the player, so that the share of the player's CPU that the tick's mere
// wake-ups take is seen in the same run.
//
// usage: timer_floor [--paint]   (--paint: the handler changes one label's text each tick)
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool paint = argc > 1 && std::strcmp(argv[1], "--paint") == 0;
    QWidget window;
    window.resize(1000, 700);
    QLabel label(&window);
    label.setGeometry(20, 20, 120, 20);
    window.show();
    QTimer timer;
    timer.setInterval(10);
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (paint) label.setText(QString::number(++ticks));
    });
    timer.start();
    return app.exec();
}
