#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "app/error_log.h"
#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/audio_output.h"
#include "components/mp3_deck.h"
#include "components/qt_file_dialog.h"
#include "components/sdl_joystick.h"
#include "shared/settings_paths.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("velmor-mp3-player");

    // Owned here and never destroyed: ending the program must not wait for the sound
    // server to release the audio device.
    auto* errors = new ErrorLog;
    auto* output = new AudioOutput(*errors);
    auto* deck1 = new Mp3Deck(*output, *errors);
    auto* deck2 = new Mp3Deck(*output, *errors);
    auto* mixer = new AlsaMixer(*errors);
    auto* joystick = new SdlJoystick(*errors);
    auto* playFileDialog = new QtFileDialog;
    auto* playDirDialog = new QtFileDialog;

    std::string executable = runningExecutablePath();
    if (executable.empty())
        executable = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    const SettingsPaths settingsFiles = settingsPathsFor(
        executable, userConfigHome(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
    auto* form = new Form1(
        Components{*deck1, *deck2, *mixer, *playFileDialog, *playDirDialog, *joystick, *errors},
        settingsFiles);
    for (const QString& line : errors->history()) form->addErrorLine(line);
    QObject::connect(errors, &ErrorLog::lineAdded, form, &Form1::addErrorLine);
    playFileDialog->setParent(form);
    playDirDialog->setParent(form);
    form->setOnUnloaded([] {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    });
    form->show();
    return app.exec();
}
