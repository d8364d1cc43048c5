// "Jump to entry" over a playlist of 32767 entries: the time of each keystroke from the key
// press until the window has refilled its list and painted it, typed one key at a time as a user
// types, then erased key by key (each erasure widens the list again, up to every entry).
//
// usage: jump_bench [entries] [rounds]
// The decks are the tests' fakes: nothing plays, only the window's thread is measured. Wall
// times suffer from a busy machine, the thread's CPU time less so.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/jump_window.h"
#include "doubles/fake_deck.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "playback/entry_filter.h"
#include "playback/playlist_items.h"
#include "shared/file_name_text.h"

namespace {

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Names as a big music folder has them: numbers, mixed case, a few Latin-1 bytes.
std::string entryName(int i) {
    static const char* const kPatterns[] = {"%d Track.mp3", "track %d - Song.MP3",
                                            "Album %d - Intro.mp3", "b\xF6se %d.mp3",
                                            "%05d mix.Mp3"};
    char buf[64];
    std::snprintf(buf, sizeof buf, kPatterns[i % 5], i);
    return buf;
}

struct Stroke {
    double wall = 0;  // ms
    double cpu = 0;   // ms
};

template <class F>
Stroke timed(F&& work) {
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = threadCpuSeconds();
    work();
    return {clock.nsecsElapsed() / 1e6, (threadCpuSeconds() - cpuStart) * 1e3};
}

void print(const char* what, std::vector<Stroke> strokes) {
    if (strokes.empty()) return;
    auto figures = [&](double Stroke::*field) {
        std::vector<double> values;
        for (const Stroke& s : strokes) values.push_back(s.*field);
        std::sort(values.begin(), values.end());
        return std::pair{values[values.size() / 2], values.back()};
    };
    const auto [wallMedian, wallWorst] = figures(&Stroke::wall);
    const auto [cpuMedian, cpuWorst] = figures(&Stroke::cpu);
    std::printf("%-34s %4zu keys: median %6.2f ms, worst %6.2f ms (CPU %6.2f / %6.2f ms)\n", what,
                strokes.size(), wallMedian, wallWorst, cpuMedian, cpuWorst);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 32767;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

    FakeDeck deck1, deck2;
    FakeMixer mixer;
    FakeFileDialog playFileDialog, playDirDialog;
    FakeJoystick joystick;
    RecordingErrorSink errors;
    Form1 form(Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
               std::string("/dev/null/unused.ini"));
    form.show();
    QApplication::setActiveWindow(&form);
    if (!QTest::qWaitForWindowActive(&form)) {
        std::fprintf(stderr, "the window did not show\n");
        return 1;
    }

    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(entryName(i));
    fillPlaylist(form.controls().List4, names);
    form.state().TrackCount = count;
    form.state().PlaylistDir = "/music/";

    const char* const queries[] = {"track",    "song 123", "intro album 99",
                                   "mix 0001", "se 7",     "zzz"};
    std::vector<Stroke> opening, typing, erasing;
    size_t shownAtEnd = 0;
    for (int round = 0; round < rounds; ++round) {
        // Ctrl+J is the main window's key.
        QApplication::setActiveWindow(&form);
        if (!QTest::qWaitForWindowActive(&form)) {
            std::fprintf(stderr, "the window did not come back\n");
            return 1;
        }
        JumpWindow* window = nullptr;
        opening.push_back(timed([&] {
            QTest::sendKeyEvent(QTest::Click, &form, Qt::Key_J, 'j', Qt::ControlModifier);
            window = form.findChild<JumpWindow*>();
            QApplication::processEvents();
        }));
        if (!window || !QTest::qWaitForWindowExposed(window)) {
            std::fprintf(stderr, "Ctrl+J showed no window\n");
            return 1;
        }
        QLineEdit* field = window->queryField();
        for (const char* query : queries) {
            for (const char* key = query; *key; ++key)
                typing.push_back(timed([&] {
                    QTest::keyClick(field, *key);
                    QApplication::processEvents();
                }));
            shownAtEnd += size_t(window->matchList()->model()->rowCount());
            while (!field->text().isEmpty())
                erasing.push_back(timed([&] {
                    QTest::keyClick(field, Qt::Key_Backspace);
                    QApplication::processEvents();
                }));
        }
        QTest::keyClick(field, Qt::Key_Escape);
        QApplication::processEvents();
    }

    // The filter alone, on the same entries and the same queries as typed.
    std::vector<Stroke> scans;
    EntryFilter filter;
    QStringList texts;
    for (const std::string& name : names) texts << fileNameText(name);
    filter.setEntries(texts);
    for (int round = 0; round < rounds; ++round)
        for (const char* query : queries)
            for (size_t length = 1; length <= std::strlen(query); ++length)
                scans.push_back(timed([&] {
                    const auto found =
                        filter.matches(QString::fromLatin1(query, qsizetype(length)));
                    if (found.size() > size_t(count)) std::abort();
                }));

    std::printf("playlist: %d entries; %zu rows shown after the last key of each query\n", count,
                shownAtEnd / size_t(rounds));
    print("opening (folding every entry)", opening);
    print("typing a key", typing);
    print("erasing a key", erasing);
    std::vector<Stroke> all = typing;
    all.insert(all.end(), erasing.begin(), erasing.end());
    print("every keystroke", all);
    print("the filter's scan alone", scans);
    std::printf("goal: every keystroke within a frame, 16 ms\n");
    return 0;
}
