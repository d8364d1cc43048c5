// The real window on the real sound server: a deck's output chosen in its menu, by keyboard,
// is kept in the settings file and taken up again at the next start. These tests hold the
// "pulse" lock (their suite's name) and run on PulseAudio and on PipeWire's pulse server.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/form1.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"
#include "engine/output/switch/output_choice.h"
#include "engine/player/mp3_deck.h"
#include "support/file_text.h"
#include "support/null_sink.h"
#include "support/sink_recorder.h"
#include "support/temp_dir.h"
#include "support/tone_analysis.h"
#include "support/tone_files.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
constexpr int kRate = SinkRecorder::kRate;

// The player as main wires it, on the private server, its settings in `settings`.
struct Player {
    explicit Player(const std::string& settings) {
        form = std::make_unique<Form1>(
            Components{deck1, deck2, mixer, playFileDialog, playDirDialog, joystick, errors},
            settings);
        form->show();
    }
    RecordingErrorSink errors;
    std::unique_ptr<AudioOutput> output = chooseAudioOutput(errors);
    Mp3Deck deck1{*output, errors, "Deck 1"};
    Mp3Deck deck2{*output, errors, "Deck 2"};
    FakeMixer mixer;
    FakeFileDialog playFileDialog, playDirDialog;
    FakeJoystick joystick;
    std::unique_ptr<Form1> form;
};

TEST(EndToEndPulseOutputs, AnOutputChosenByKeyboardIsHeardThereAndAgainAfterARestart) {
    if (!SinkRecorder::available()) GTEST_SKIP() << "needs the private sound server";
    TempDir dir;
    const std::string tone = makeToneMp3(dir.path(), "b880.mp3", 880, 6, {.rate = 48000});
    const std::string settings = dir.file("velmor-mp3-player.ini");
    const std::string before = "[System]\r\nData-Path=/music\r\n; kept\r\n\xFF junk\r\n";
    std::ofstream(settings, std::ios::binary) << before;
    NullSink phones("phones", "Phones");
    SinkRecorder onPhones(phones.monitor()), onDefault;

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Player player(settings);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(player.form.get()));
        ASSERT_TRUE(waitFor([&] { return !player.deck2.outputDevices().empty(); }, 5000ms));
        if (run == 1) {
            // Shift+F10 on deck 2's focused "Play": its menu lists the outputs by description.
            QPushButton* play = player.form->controls().Command13;
            play->setFocus();
            QTest::keyClick(play, Qt::Key_F10, Qt::ShiftModifier);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            QAction* phonesItem = nullptr;
            for (QAction* action : menu->actions())
                if (action->text() == "Phones") phonesItem = action;
            ASSERT_NE(phonesItem, nullptr);
            phonesItem->trigger();
            menu->close();
        }
        EXPECT_EQ(player.deck2.outputDevice(), "phones");
        const std::size_t from = onPhones.frames();
        player.deck2.setFileName(tone);
        player.deck2.play();
        std::this_thread::sleep_for(1000ms);
        const std::vector<float> heard = channelOf(onPhones.samples(), 2, 0);
        ASSERT_GT(heard.size(), from + kRate / 2);
        EXPECT_GT(medianOverWindows(std::span(heard).subspan(from + kRate / 4), kRate, 880), 0.3);
        player.deck2.stop();
        EXPECT_TRUE(player.errors.taken().empty());
    }
    EXPECT_LT(rms(channelOf(onDefault.stop(), 2, 0)), 0.001) << "deck 2 was heard elsewhere";
    // Every byte of the file kept, the choice in a section of its own.
    EXPECT_EQ(fileText(settings), before + "[Outputs]\r\nDeck2=phones\r\n");
}

}  // namespace
