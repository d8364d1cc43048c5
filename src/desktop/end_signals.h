#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// SIGTERM (the session ending, `kill`), SIGINT (Ctrl+C) and SIGHUP (the terminal closed) run
// `onEnd` on the UI thread, so the program ends the way a closed window ends it, settings
// saved. The handler itself only writes a byte to a pipe, the one safe thing it can do, and
// puts the default action back: a second signal, while the ending runs or hangs, ends the
// program at once. A signal ignored by whoever started the player (`nohup`) stays ignored.
// One instance at a time; the destructor puts the old handlers back.
class EndSignals : public QObject {
public:
    explicit EndSignals(std::function<void()> onEnd);
    ~EndSignals() override;
    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

private:
    std::function<void()> onEnd;
    QSocketNotifier* notifier = nullptr;
};
