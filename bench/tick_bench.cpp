// The cost of the 10 ms tick with both real decks playing, as a share of one core.
//
// The window runs its own event loop for a while twice: once with the tick stopped (the
// baseline: whatever the UI thread does anyway) and once with the tick running at 100 Hz.
// The difference of the UI thread's CPU time, divided by the wall time, is the tick's share of
// one core, repaints included. A third, direct measure times Timer1_Timer alone.
#include <SDL.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/error_log.h"
#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/qt_file_dialog.h"
#include "components/sdl_joystick.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"

namespace {

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// UI-thread CPU seconds spent while the event loop runs for `seconds`.
double runLoop(double seconds) {
    const double start = threadCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return threadCpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s deck1.mp3 deck2.mp3 [seconds]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const double seconds = argc > 3 ? std::stod(argv[3]) : 10.0;

    ErrorLog errors;
    SdlOutput output(errors);
    Mp3Deck deck1(output, errors), deck2(output, errors);
    AlsaMixer mixer(errors);
    SdlJoystick joystick(errors);
    QtFileDialog dialog1, dialog2;
    Form1 form(Components{deck1, deck2, mixer, dialog1, dialog2, joystick, errors},
               SettingsPaths(std::string("/dev/null/unused.ini")));
    form.show();

    deck1.setFileName(argv[1]);
    deck2.setFileName(argv[2]);
    deck1.play();
    deck2.play();
    form.state().playerState = PlayerState::Playing;
    if (deck1.playState() != Deck::Playing || deck2.playState() != Deck::Playing) {
        std::fprintf(stderr, "the decks do not play\n");
        return 1;
    }
    QTimer* tick = form.controls().Timer1;

    tick->stop();
    runLoop(0.5);  // settle: first paint, device start
    const double idle = runLoop(seconds);
    tick->start();
    QElapsedTimer wall;
    wall.start();
    const double busy = runLoop(seconds);
    const double elapsed = wall.elapsed() / 1000.0;
    tick->stop();

    // Direct: the handler alone, called at the same pace the timer would.
    auto handlerSeconds = [&](int calls) {
        double total = 0;
        for (int i = 0; i < calls; ++i) {
            const double t0 = threadCpuSeconds();
            form.Timer1_Timer();
            total += threadCpuSeconds() - t0;
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return total / calls;
    };
    const int calls = int(seconds * 100);
    const double handler = handlerSeconds(calls);
    // Reference in the same run: both decks paused, so no display changes.
    deck1.pause();
    deck2.pause();
    const double handlerPaused = handlerSeconds(calls);
    tick->start();
    const double busyPaused = runLoop(seconds);
    tick->stop();
    deck1.play();
    deck2.play();

    // The joystick's part of each tick: one read, without a stick and with a virtual one.
    const auto readSeconds = [&] {
        int32_t x = 0, y = 0;
        uint32_t buttons = 0;
        joystick.read(x, y, buttons);  // the first read may open the stick
        constexpr int kReads = 2000;
        const double t0 = threadCpuSeconds();
        for (int i = 0; i < kReads; ++i) joystick.read(x, y, buttons);
        return (threadCpuSeconds() - t0) / kReads;
    };
    const double readUnplugged = readSeconds();
    const bool attached = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 4, 0) >= 0;
    const double readPlugged = attached ? readSeconds() : 0;

    const double share = (busy - idle) / elapsed * 100.0;
    std::printf("UI thread CPU, tick stopped:  %.3f s in %.1f s (%.2f %% of a core)\n", idle,
                seconds, idle / seconds * 100);
    std::printf("UI thread CPU, tick running:  %.3f s in %.1f s (%.2f %% of a core)\n", busy,
                elapsed, busy / elapsed * 100);
    std::printf("tick share of one core (running - stopped): %.2f %%  (goal: under 1 %%)\n", share);
    std::printf("tick share with both decks paused (nothing changes): %.2f %%\n",
                (busyPaused - idle) / seconds * 100.0);
    std::printf("Timer1_Timer alone, playing: %.1f us per call, %.2f %% of a core at 100 Hz\n",
                handler * 1e6, handler * 100 * 100);
    std::printf("Timer1_Timer alone, paused:  %.1f us per call, %.2f %% of a core at 100 Hz\n",
                handlerPaused * 1e6, handlerPaused * 100 * 100);
    std::printf("playing / paused handler cost: %.2f\n", handler / handlerPaused);
    std::printf("joystick read: %.2f us with no stick, %s\n", readUnplugged * 1e6,
                attached ? (std::to_string(readPlugged * 1e6) + " us with a virtual one").c_str()
                         : "no virtual stick could be attached");
    std::printf("decks still playing: %d %d\n", deck1.playState(), deck2.playState());
    std::fflush(stdout);
    std::_Exit(0);  // as the player does: no waiting for the sound server
}
