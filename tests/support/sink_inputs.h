#pragma once

#include <regex>
#include <sstream>
#include <string>

#include "support/shell_command.h"

// What the private server lists of the stream whose media.name begins with `label`
// ("Deck 1"), from `pactl list sink-inputs`.

// Its index; -1 when there is none.
inline int sinkInputOf(const std::string& label) {
    std::istringstream lines(commandOutput("pactl list sink-inputs"));
    std::string line;
    std::smatch m;
    int index = -1;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, m, std::regex(R"(Sink Input #(\d+))"))) index = std::stoi(m[1]);
        if (line.find("media.name = \"" + label) != std::string::npos) return index;
    }
    return -1;
}

// Its rate, from the format line ("float32le 2ch 44100Hz"); 0 when there is none.
inline int streamRateOf(const std::string& label) {
    std::istringstream lines(commandOutput("pactl list sink-inputs"));
    std::string line;
    std::smatch m;
    int rate = 0;
    bool ours = false;
    while (std::getline(lines, line)) {
        if (line.rfind("Sink Input #", 0) == 0) {
            if (ours) return rate;
            rate = 0;
        }
        if (std::regex_search(line, m, std::regex(R"(Sample \w+: \S+ \d+ch (\d+)Hz)")))
            rate = std::stoi(m[1]);
        if (line.find("media.name = \"" + label) != std::string::npos) ours = true;
    }
    return ours ? rate : 0;
}

// How many it lists.
inline int streamsOf(const std::string& label) {
    const std::string list = commandOutput("pactl list sink-inputs");
    int count = 0;
    for (std::size_t at = list.find("media.name = \"" + label); at != std::string::npos;
         at = list.find("media.name = \"" + label, at + 1))
        ++count;
    return count;
}
