#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/real_components.h"
#include "components/stderr_filter.h"
#include "desktop/command_line.h"
#include "desktop/desktop_session.h"
#include "desktop/end_signals.h"
#include "desktop/x11_paint_transport.h"
#include "shared/settings_paths.h"

int main(int argc, char** argv) {
    StderrFilter::install();
    QCoreApplication::setApplicationName("velmor-mp3-player");
    QCoreApplication::setApplicationVersion(VELMOR_VERSION);

    // Before any GUI object: help, the version and a usage error need no display.
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
    // Qt would abort on its own with a message about plugins; say what is missing instead.
    if (const QString missing = missingDisplay(commandLine); !missing.isEmpty()) {
        std::fputs(missing.toLocal8Bit().constData(), stderr);
        return 1;
    }
    sendPaintsWithinRequests();
    QApplication app(argc, argv);

    // Before anything else starts: a second start hands its path to the running player.
    DesktopSession desktop(QDBusConnection::sessionBus(), QDBusConnection::systemBus());
    switch (desktop.start(commandLine.path)) {
        case DesktopSession::Start::HandedOver:
            return 0;
        case DesktopSession::Start::Refused:
            return 1;
        case DesktopSession::Start::AsThePlayer:
            break;
    }

    std::string executable = runningExecutablePath();
    if (executable.empty())
        executable = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    Form1* form = createWindowOnRealComponents(settingsPathsFor(
        executable, userConfigHome(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"))));
    form->setOnClosing([form, &desktop] {
        // A thread stuck in a hung disk keeps the process, and all it holds open, alive past
        // _Exit, and the last settings may wait on such a disk: the bus name and the window go
        // first.
        desktop.end();
        form->hide();
        QGuiApplication::sync();
    });
    form->setOnUnloaded([] {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(0);
    });
    desktop.attach(*form);
    const EndSignals endSignals([form] { form->close(); });
    form->show();

    // After the first activation, which loads the settings the path would otherwise lose. A
    // path given wins over a resume.
    if (!commandLine.path.empty())
        QTimer::singleShot(0, form, [form, path = commandLine.path] { form->openPath(path); });
    else
        QTimer::singleShot(0, form, [form] { form->resumeAtStart(); });
    return app.exec();
}
