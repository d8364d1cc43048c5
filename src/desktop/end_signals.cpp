#include "desktop/end_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};
int pipeEnds[2] = {-1, -1};
std::array<struct sigaction, kSignals.size()> previous{};
std::array<bool, kSignals.size()> taken{};  // not those ignored by whoever started us (nohup)

void onSignal(int signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (taken[i]) sigaction(kSignals[i], &fallback, nullptr);
    errno = savedErrno;
}

}  // namespace

EndSignals::EndSignals(std::function<void()> onEnd) : onEnd(std::move(onEnd)) {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // signals keep their default
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        notifier->setEnabled(false);  // once: the handlers are back at their defaults
        this->onEnd();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], nullptr, &previous[i]);
        taken[i] = previous[i].sa_handler != SIG_IGN;
        if (taken[i]) sigaction(kSignals[i], &action, nullptr);
    }
}

EndSignals::~EndSignals() {
    if (!notifier) return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (taken[i]) sigaction(kSignals[i], &previous[i], nullptr);
    taken = {};
    delete notifier;
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}
