#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "support/shell_command.h"
#include "support/wait_for.h"

// A null sink of the test's own on the private sound server, gone with it; `format` as the
// module takes it ("rate=44100 format=float32le").
class NullSink {
public:
    NullSink(const std::string& name, const std::string& description,
             const std::string& format = "rate=48000")
        : name(name) {
        using namespace std::chrono_literals;
        module = commandOutput("pactl load-module module-null-sink sink_name=" + name + " " +
                               format + " sink_properties=device.description=" + description);
        module.erase(std::remove(module.begin(), module.end(), '\n'), module.end());
        // The server lists it a moment later on PipeWire, once its session manager took it in.
        waitFor(
            [&] { return commandOutput("pactl list short sinks").find(name) != std::string::npos; },
            3s);
        std::this_thread::sleep_for(200ms);
    }
    ~NullSink() { unload(); }
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;
    void unload() {
        if (!module.empty()) commandOutput("pactl unload-module " + module);
        module.clear();
    }
    std::string monitor() const { return name + ".monitor"; }

private:
    std::string name;
    std::string module;
};
