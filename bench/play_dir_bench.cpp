// "Play Dir" on a big directory: the time from the dialog's accept to the first sound, against
// `ls -f` on the same directory in the same run, with the steps on the way measured one by one.
//
// usage: play_dir_bench tone.mp3 workdir [names]
// "Heard" is when the first sound reached the private sound server's sink, from a recording of
// it (with PULSE_SERVER set, as bench/run.sh does); deck 1 plays through the output the player
// chooses. "Sound seen" is when deck 1's position is first seen moving, polled once the handler
// has returned: an upper bound when no recording can be made.
// The directory is made of hard links to tone.mp3 (32767 names unless told otherwise), with
// numbers, mixed letter case and a few Latin-1 names, in no particular order on disk.
// Figures are medians of five; wall times suffer from a busy machine, CPU times less so.
// "Through the dialog" drives the real open-file dialog as a user does: once it shows the
// directory, the first name is typed and Return pressed; the clock starts at that key press.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/error_log.h"
#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/qt_file_dialog.h"
#include "components/sdl_joystick.h"
#include "doubles/fake_file_dialog.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "playback/music_listing.h"
#include "playback/playlist_items.h"
#include "support/sink_recorder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRepeats = 5;
constexpr float kOnset = 0.05f;  // the tone is at half scale

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string nameNumber(int i) {
    static const char* const kPatterns[] = {"%d Track.mp3", "track %d - Song.MP3",
                                            "Album %d - Intro.mp3", "b\xF6se %d.mp3",
                                            "%05d mix.Mp3"};
    char buf[64];
    std::snprintf(buf, sizeof buf, kPatterns[i % 5], i);
    return buf;
}

// Makes dir with `count` hard links to tone; an existing dir of the right size is kept.
void makeDirectory(const std::string& tone, const std::string& dir, int count) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    // A shuffled creation order, so that the disk's order says nothing about the sorted one.
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i) order[i] = i;
    unsigned seed = 12345;
    for (int i = count - 1; i > 0; --i) {
        seed = seed * 1103515245u + 12345u;
        std::swap(order[i], order[seed % unsigned(i + 1)]);
    }
    for (int i : order) {
        const std::string path = dir + "/" + nameNumber(i);
        if (::link(tone.c_str(), path.c_str()) != 0 && errno != EEXIST) {
            std::perror(path.c_str());
            std::exit(1);
        }
    }
}

struct Times {
    double wall = 0;
    double cpu = 0;
};

// `ls -f dir` with its output thrown away; its CPU time is the child's user and system time.
Times lsTimes(const std::string& dir) {
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execlp("ls", "ls", "-f", dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    auto secondsOf = [](const timeval& tv) { return double(tv.tv_sec) + tv.tv_usec / 1e6; };
    return {t.nsecsElapsed() / 1e9, secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime)};
}

template <class F>
Times timed(F&& work) {
    QElapsedTimer t;
    t.start();
    const double cpuStart = threadCpuSeconds();
    work();
    return {t.nsecsElapsed() / 1e9, threadCpuSeconds() - cpuStart};
}

void printStep(const char* what, const std::vector<Times>& runs) {
    std::vector<double> wall, cpu;
    for (const auto& t : runs) {
        wall.push_back(t.wall * 1e3);
        cpu.push_back(t.cpu * 1e3);
    }
    std::printf("%-32s %6.1f ms (CPU %6.1f ms)\n", what, median(wall), median(cpu));
}

struct PlayDirTimes {
    double started = 0;     // accept -> deck 1's play() returned: the decoder's data is ready
    double handler = 0;     // accept -> handler returned
    double handlerCpu = 0;  // the UI thread's CPU time meanwhile, less disturbed by a busy machine
    double refreshed = 0;   // accept -> pending events (layout, paint) done
    double firstSound = 0;  // accept -> deck 1's position seen moving; polled once the handler
                            // is done, so at most that late
    double heard = -1;      // accept -> the first sound reached the sink; -1: not recorded
};

// The real deck, noting when play() returns.
class TimedDeck : public Deck {
public:
    TimedDeck(Deck& deck, const QElapsedTimer& clock) : deck(deck), clock(clock) {}
    double startedAt = -1;

    void setFileName(const std::string& name) override { deck.setFileName(name); }
    std::string fileName() const override { return deck.fileName(); }
    void play() override {
        deck.play();
        startedAt = clock.nsecsElapsed() / 1e9;
    }
    void pause() override { deck.pause(); }
    void stop() override { deck.stop(); }
    int playState() const override { return deck.playState(); }
    double duration() const override { return deck.duration(); }
    double currentPosition() const override { return deck.currentPosition(); }
    void setVolume(int volume) override { deck.setVolume(volume); }
    void stepForward() override { deck.stepForward(); }
    void stepBack() override { deck.stepBack(); }
    void seek(double seconds) override { deck.seek(seconds); }
    void pauseAt(double seconds) override { deck.pauseAt(seconds); }
    void followOutput() override { deck.followOutput(); }
    void waitForOpenAtMost(std::chrono::milliseconds limit) override {
        deck.waitForOpenAtMost(limit);
    }
    bool stillOpening() const override { return deck.stillOpening(); }

private:
    Deck& deck;
    const QElapsedTimer& clock;
};

class Bench {
public:
    Bench()
        : output(chooseAudioOutput(errors)),
          realDeck1(*output, errors),
          deck1(realDeck1, clock),
          deck2(*output, errors),
          mixer(errors),
          joystick(errors) {
        if (SinkRecorder::available()) recorder = std::make_unique<SinkRecorder>();
    }

    // One "Play Dir" on dir; the form is made fresh unless one is given.
    PlayDirTimes playDir(Form1& form, const std::string& dir) {
        playDirDialog.answer = dir + "/" + firstName(dir);
        double cpuStart = 0;
        playDirDialog.duringShow = [&] { cpuStart = userAccepts(); };
        form.controls().Command6->click();
        return timesAfterHandler(cpuStart);
    }
    // The same through the real dialog, from the user's Return on the first name.
    PlayDirTimes playDirThroughDialog(Form1& form, const std::string& dir) {
        realDirDialog.setParent(&form);
        form.state().DataPath = dir + "/";  // where "Play Dir" opens the dialog
        int shownRows = -1;
        int stillTicks = 0;
        double cpuStart = 0;
        bool pressed = false;
        QTimer user;
        user.setInterval(5);
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || pressed) return;
            auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!view || !edit || !view->model()) return;
            // The dialog reads the directory in the background: the user waits until its list
            // stands still (it leaves out the names that are not UTF-8).
            const int rows = view->model()->rowCount(view->rootIndex());
            if (rows == 0 || rows != shownRows) {
                shownRows = rows;
                stillTicks = 0;
                return;
            }
            if (++stillTicks < 20) return;
            edit->setText(view->model()->index(0, 0, view->rootIndex()).data().toString());
            pressed = true;
            cpuStart = userAccepts();
            QTest::keyClick(edit, Qt::Key_Return);
        });
        user.start();
        form.controls().Command6->click();
        user.stop();
        return timesAfterHandler(cpuStart);
    }
    // The moment the user accepts: starts the clocks, returns the thread's CPU time.
    double userAccepts() {
        if (recorder) recordedFrom = recorder->frames();
        clock.start();
        acceptedAt = SinkRecorder::Clock::now();
        return threadCpuSeconds();
    }
    // Once "Play Dir"'s handler has returned: its times, then the first sound, polled.
    PlayDirTimes timesAfterHandler(double cpuStart) {
        PlayDirTimes t;
        t.handler = clock.nsecsElapsed() / 1e9;
        t.handlerCpu = threadCpuSeconds() - cpuStart;
        QApplication::processEvents();
        t.refreshed = clock.nsecsElapsed() / 1e9;
        while (deck1.currentPosition() <= 0 && clock.elapsed() < 5000) {
            QApplication::processEvents();
            QThread::usleep(200);
        }
        t.firstSound = clock.nsecsElapsed() / 1e9;
        t.started = deck1.startedAt;
        while (recorder && clock.elapsed() < 5000) {
            if (const auto onset = recorder->firstAbove(recordedFrom, kOnset)) {
                t.heard =
                    std::chrono::duration<double>(recorder->timeOf(*onset) - acceptedAt).count();
                break;
            }
            QThread::usleep(500);
        }
        return t;
    }
    std::unique_ptr<Form1> freshForm(bool realDialog = false) {
        FileDialog& dirDialog =
            realDialog ? static_cast<FileDialog&>(realDirDialog) : playDirDialog;
        auto form = std::make_unique<Form1>(
            Components{deck1, deck2, mixer, playFileDialog, dirDialog, joystick, errors},
            std::string("/dev/null/unused.ini"));
        form->show();
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
        return form;
    }
    void stop(Form1& form) {
        form.controls().Command3->click();
        QApplication::processEvents();
    }
    bool clean() const { return errors.history().isEmpty(); }
    // Before a quick exit: the recorder's own process ends with it.
    void stopRecording() { recorder.reset(); }
    QStringList errorLines() const { return errors.history(); }

private:
    static std::string firstName(const std::string& dir) {
        for (const auto& e : fs::directory_iterator(dir)) return e.path().filename().string();
        return {};
    }

    QElapsedTimer clock;  // started when the user accepts the dialog
    SinkRecorder::Clock::time_point acceptedAt;
    std::unique_ptr<SinkRecorder> recorder;  // the sink, when there is a private sound server
    std::size_t recordedFrom = 0;            // frames recorded when the user accepted
    ErrorLog errors;
    std::unique_ptr<AudioOutput> output;
    Mp3Deck realDeck1;
    TimedDeck deck1;
    Mp3Deck deck2;
    AlsaMixer mixer;
    SdlJoystick joystick;
    FakeFileDialog playFileDialog, playDirDialog;
    QtFileDialog realDirDialog;
};

void printTimes(const char* what, const std::vector<PlayDirTimes>& runs) {
    std::vector<double> started, h, c, r, s, heard;
    for (const auto& t : runs) {
        started.push_back(t.started * 1e3);
        h.push_back(t.handler * 1e3);
        c.push_back(t.handlerCpu * 1e3);
        r.push_back(t.refreshed * 1e3);
        s.push_back(t.firstSound * 1e3);
        if (t.heard >= 0) heard.push_back(t.heard * 1e3);
    }
    std::printf(
        "%s\n    deck 1 started %6.1f ms, handler done %6.1f ms (CPU %6.1f ms), "
        "painted %6.1f ms, sound seen %6.1f ms\n",
        what, median(started), median(h), median(c), median(r), median(s));
    if (!heard.empty())
        std::printf("    heard %6.1f ms (longest %6.1f ms)\n", median(heard),
                    *std::max_element(heard.begin(), heard.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s tone.mp3 workdir [names]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const std::string tone = argv[1];
    const std::string work = argv[2];
    const int count = argc > 3 ? std::atoi(argv[3]) : 32767;
    const std::string big = work + "/big";
    const std::string small = work + "/small";
    makeDirectory(tone, big, count);
    makeDirectory(tone, small, 3);

    // Steps alone, on warm caches: wall and CPU time.
    lsTimes(big);
    std::vector<Times> ls, reading, sorting;
    std::string error;
    std::vector<std::string> names;
    for (int i = 0; i < kRepeats; ++i) {
        ls.push_back(lsTimes(big));
        reading.push_back(timed([&] { names = readMp3Names(big + "/", error); }));
        std::vector<std::string> copy = names;
        sorting.push_back(timed([&] { sortNaturally(copy); }));
    }
    sortNaturally(names);

    Bench bench;
    std::vector<Times> fillEmpty, fillFull, select;
    for (int i = 0; i < kRepeats; ++i) {
        auto form = bench.freshForm();
        QListWidget* list = form->controls().List4;
        fillEmpty.push_back(timed([&] { fillPlaylist(list, names); }));
        fillFull.push_back(timed([&] { fillPlaylist(list, names); }));
        select.push_back(timed([&] {
            list->setCurrentRow(0);
            QApplication::processEvents();
        }));
    }

    std::vector<PlayDirTimes> dialogBig, dialogSmall;
    for (int i = 0; i < kRepeats; ++i) {
        auto form = bench.freshForm(true);
        dialogBig.push_back(bench.playDirThroughDialog(*form, big));
        bench.stop(*form);
        dialogSmall.push_back(bench.playDirThroughDialog(*form, small));
        bench.stop(*form);
    }

    std::vector<PlayDirTimes> fresh, afterStop, smallDir;
    for (int i = 0; i < kRepeats; ++i) {
        auto form = bench.freshForm();
        fresh.push_back(bench.playDir(*form, big));
        bench.stop(*form);
        afterStop.push_back(bench.playDir(*form, big));
        bench.stop(*form);
        smallDir.push_back(bench.playDir(*form, small));
        bench.stop(*form);
    }

    std::printf("directory: %zu MP3 names of %d\n", names.size(), count);
    printStep("ls -f", ls);
    printStep("reading the names", reading);
    printStep("natural sort", sorting);
    printStep("filling List4", fillEmpty);
    printStep("filling List4 over a full one", fillFull);
    printStep("selecting entry 0, first paint", select);
    printTimes("\"Play Dir\", fresh player:", fresh);
    printTimes("\"Play Dir\" again after \"Stop\":", afterStop);
    printTimes("\"Play Dir\" on 3 names:", smallDir);
    printTimes("\"Play Dir\" through the dialog, from the user's Return:", dialogBig);
    printTimes("  the same on 3 names:", dialogSmall);
    // Heard where the sink was recorded, else the upper bound.
    auto sound = [](const std::vector<PlayDirTimes>& runs) {
        std::vector<double> v;
        for (const auto& t : runs) v.push_back(t.heard >= 0 ? t.heard : t.firstSound);
        return median(v);
    };
    std::vector<double> lsWall;
    for (const auto& t : ls) lsWall.push_back(t.wall);
    std::printf("sound / ls -f: %.1f (goal: sound within 100 ms of the accept)\n",
                sound(fresh) / median(lsWall));
    std::printf("through the dialog, Return to sound: %.1f ms (goal: under 60 ms)\n",
                sound(dialogBig) * 1e3);
    if (!bench.clean()) {
        for (const QString& line : bench.errorLines())
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    }
    std::fflush(stdout);
    bench.stopRecording();
    std::_Exit(bench.clean() ? 0 : 1);
}
