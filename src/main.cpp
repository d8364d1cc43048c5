#include <QApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/error_log.h"
#include "app/form1.h"
#include "components/alsa_mixer.h"
#include "components/audio_output.h"
#include "components/mp3_deck.h"
#include "components/qt_file_dialog.h"
#include "components/sdl_joystick.h"
#include "desktop/command_line.h"
#include "shared/settings_paths.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("velmor-mp3-player");
    QApplication::setApplicationVersion(VELMOR_VERSION);

    // QApplication has taken its own options out of argv.
    const CommandLine commandLine = parseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (commandLine.action) {
        case CommandLine::Action::ShowHelp:
        case CommandLine::Action::ShowVersion:
            std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
            return 0;
        case CommandLine::Action::UsageError:
            std::fputs(commandLine.text.toLocal8Bit().constData(), stderr);
            return 2;
        case CommandLine::Action::Run:
            break;
    }

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
    // After the first activation, which loads the settings the path would otherwise lose.
    if (!commandLine.path.empty())
        QTimer::singleShot(0, form, [form, path = commandLine.path] { form->openPath(path); });
    return app.exec();
}
