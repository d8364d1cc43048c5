#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/real_components.h"
#include "desktop/command_line.h"
#include "desktop/mpris_service.h"
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

    std::string executable = runningExecutablePath();
    if (executable.empty())
        executable = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    Form1* form = createWindowOnRealComponents(settingsPathsFor(
        executable, userConfigHome(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))));
    form->setOnUnloaded([] {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    });
    form->show();

    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (!sessionBus.isConnected()) {
        std::fprintf(stderr, "No D-Bus session bus (%s): no media keys or sound menus.\n",
                     sessionBus.lastError().message().toLocal8Bit().constData());
    } else if (sessionBus.registerService(MprisService::kServiceName)) {
        auto* mpris = new MprisService(form->remote(), sessionBus, form);
        mpris->publish();
    }
    // After the first activation, which loads the settings the path would otherwise lose.
    if (!commandLine.path.empty())
        QTimer::singleShot(0, form, [form, path = commandLine.path] { form->openPath(path); });
    return app.exec();
}
