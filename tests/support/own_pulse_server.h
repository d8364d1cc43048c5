#pragma once

#include <sys/types.h>

#include <string>

// A PulseAudio server of a test's own, with the null sink "velmor_null", in a runtime directory
// of its own: the test can kill it, freeze it and start it again at the same address.
class OwnPulseServer {
public:
    explicit OwnPulseServer(std::string dir);  // not started yet
    ~OwnPulseServer();
    OwnPulseServer(const OwnPulseServer&) = delete;
    OwnPulseServer& operator=(const OwnPulseServer&) = delete;

    // True once the server accepts connections.
    bool start();
    void kill();
    void freeze();  // SIGSTOP: the server holds its clients without a word, as a hung one does
    void thaw();
    // What PULSE_SERVER must say to reach it.
    std::string address() const { return "unix:" + socket; }

private:
    std::string dir;
    std::string socket;
    pid_t pid = -1;
};
