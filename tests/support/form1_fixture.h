#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/form1.h"
#include "doubles/fake_deck.h"
#include "doubles/fake_file_dialog.h"
#include "doubles/fake_joystick.h"
#include "doubles/fake_mixer.h"
#include "doubles/recording_error_sink.h"

// The real window on test doubles, with its settings file in a temporary directory.
class Form1Fixture : public ::testing::Test {
protected:
    FakeDeck deck1, deck2;
    FakeMixer mixer;
    FakeFileDialog playFileDialog, playDirDialog;
    FakeJoystick joystick;
    RecordingErrorSink errors;
    QTemporaryDir dir;
    std::unique_ptr<Form1> form;

    std::string settingsFile() const { return dir.filePath("velmor-mp3-player.ini").toStdString(); }
    // Creates the window, which runs its load handler.
    Form1& make();
    const Form1Controls& ui() const { return form->controls(); }
    SharedState& state() { return form->state(); }
    static std::string text(const QLabel* label) { return label->text().toStdString(); }
    // Creates empty files under the temporary directory; returns the directory with '/'.
    std::string makeFiles(const std::string& sub, std::initializer_list<const char*> names);
};
