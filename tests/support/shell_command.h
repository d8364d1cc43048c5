#pragma once

#include <cstdio>
#include <memory>
#include <regex>
#include <string>

// What a shell command prints, standard error included.
inline std::string commandOutput(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

// The default sink's volume in percent (its first channel), as pactl shows it; -1 if none.
inline int sinkPercent() {
    const std::string out = commandOutput("pactl get-sink-volume @DEFAULT_SINK@");
    std::smatch m;
    return std::regex_search(out, m, std::regex(R"((\d+)%)")) ? std::stoi(m[1]) : -1;
}
