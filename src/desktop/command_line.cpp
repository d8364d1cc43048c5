#include "desktop/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdlib>
#include <string_view>

namespace {
// Qt's own options, which the application object takes out of argv later: the command line is
// read before that object exists, so a start needs no display to print help or a usage error.
// Each name between blanks.
constexpr std::string_view kQtOptionsWithValue =
    " platform platformpluginpath platformtheme plugin qwindowgeometry geometry qwindowtitle"
    " title qwindowicon icon session display style stylesheet name ";
constexpr std::string_view kQtFlags = " reverse widgetcount testability nograb dograb sync ";

bool listed(std::string_view names, const std::string& name) {
    return !name.empty() && name.find(' ') == std::string::npos &&
           names.find(" " + name + " ") != std::string_view::npos;
}

// "-name", "--name" or "-name=value" of a Qt option; 0 when `arg` is none, else how many words
// it takes.
int qtOptionWords(const std::string& arg) {
    const size_t dashes = arg.rfind("--", 0) == 0 ? 2 : arg.rfind('-', 0) == 0 ? 1 : 0;
    if (dashes == 0) return 0;
    const std::string name = arg.substr(dashes, arg.find('=') - dashes);
    const bool joinedValue = arg.find('=') != std::string::npos;
    if (name == "qmljsdebugger") return 1;
    if (listed(kQtOptionsWithValue, name)) return joinedValue ? 1 : 2;
    return listed(kQtFlags, name) && !joinedValue ? 1 : 0;
}

bool namesPlatform(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size() && args[i] != "--"; ++i)
        if (args[i].rfind("-platform", 0) == 0 || args[i].rfind("--platform", 0) == 0) return true;
    return false;
}

std::vector<std::string> withoutQtOptions(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0 && args[i] == "--") {
            out.insert(out.end(), args.begin() + long(i), args.end());
            break;
        }
        const int words = i > 0 ? qtOptionWords(args[i]) : 0;
        if (words == 0)
            out.push_back(args[i]);
        else
            i += size_t(words - 1);
    }
    return out;
}

std::string programName(const std::vector<std::string>& args) {
    if (args.empty() || args.front().empty()) return "velmor-mp3-player";
    return args.front().substr(args.front().rfind('/') + 1);
}

// The positional arguments as bytes: file names need not be valid text. No option of ours
// takes a value, so every other word is an option up to "--".
std::vector<std::string> positionalBytes(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            out.push_back(arg);
        }
    }
    return out;
}
}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& argv) {
    const std::vector<std::string> args = withoutQtOptions(argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Velmor´s MP3-Player: plays the MP3 files of a folder, or "
        "one MP3 file.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(
        "path",
        "A folder to play as \"Play Dir\" does, or an .mp3 file to play as \"Play File\" does.",
        "[PATH]");

    QStringList words;
    for (const std::string& arg : args) words << QString::fromLocal8Bit(arg);
    if (words.isEmpty()) words << "velmor-mp3-player";

    CommandLine result;
    result.platformGiven = namesPlatform(argv);
    // Without an application object Qt cannot name the program itself.
    const QString usage =
        parser.helpText().replace("<executable_name>", QString::fromLocal8Bit(programName(args)));
    if (!parser.parse(words)) {
        result.action = CommandLine::Action::UsageError;
        result.text = parser.errorText() + "\n\n" + usage;
        return result;
    }
    if (parser.isSet(help) || parser.isSet("help-all")) {
        result.action = CommandLine::Action::ShowHelp;
        result.text = usage;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        result.text = QCoreApplication::applicationName() + " " +
                      QCoreApplication::applicationVersion() + "\n";
        return result;
    }
    const std::vector<std::string> paths = positionalBytes(args);
    if (paths.size() > 1) {
        result.action = CommandLine::Action::UsageError;
        result.text =
            QString("Only one folder or file can be given, not %1.\n\n").arg(paths.size()) + usage;
        return result;
    }
    if (!paths.empty()) result.path = paths.front();
    return result;
}

QString missingDisplay(const CommandLine& commandLine) {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && value[0];
    };
    if (commandLine.platformGiven || set("DISPLAY") || set("WAYLAND_DISPLAY") ||
        set("QT_QPA_PLATFORM"))
        return {};
    return QStringLiteral(
        "velmor-mp3-player: no display to show the window on (neither DISPLAY nor "
        "WAYLAND_DISPLAY is set); --help and --version work without one.\n");
}
