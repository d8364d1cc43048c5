#pragma once

#include <QString>
#include <string>
#include <vector>

// What the command line asks for: run (with a folder or file to open, or none), or print
// help, the version or a usage error and end.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, UsageError };
    Action action = Action::Run;
    std::string path;            // bytes as given; "" for none
    QString text;                // help, version, or the error followed by the usage
    bool platformGiven = false;  // Qt's -platform option names where the window goes
};

// Why the window could not be shown here, for a start that needs it: no X display, no Wayland
// display and no Qt platform named. "" where one is.
QString missingDisplay(const CommandLine& commandLine);

// `argv` as the process got them (argv[0] first). Qt's own options (-platform NAME, -style
// NAME ...) are passed over; the application's name and version are set before. Needs no
// application object.
CommandLine parseCommandLine(const std::vector<std::string>& argv);
