#include "desktop/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

namespace {
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

CommandLine parseCommandLine(const std::vector<std::string>& args) {
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
    const QString usage = parser.helpText();
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
