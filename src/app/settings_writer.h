#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ErrorSink;

// Saves settings values one after another on a thread of its own, so that a slow or hung disk
// holds that thread, never the window.
//
// Protocol: the UI thread queues saves (write) and waits for them (flush); the writer thread
// takes them in queue order and runs them; a save still queued gives way to a newer one of the
// same key, in its place, so the file ends as if each had run in turn. Queue, the save under
// way and the failures not yet reported are shared under one mutex. A failure goes to the
// ErrorSink on the UI thread, posted there; a cause that repeats the last one reported is not
// reported again until a save succeeds. The writer thread owns only the shared block, so that
// one stuck in a hung disk may outlive the writer.
class SettingsWriter {
public:
    // Runs on the writer thread: true, or false with the cause in `error`.
    using Save = std::function<bool(std::string& error)>;

    explicit SettingsWriter(ErrorSink& errors);
    // Waits for the queued saves up to kEndBound; a thread held by the disk past that is left
    // to end by itself.
    ~SettingsWriter();
    SettingsWriter(const SettingsWriter&) = delete;
    SettingsWriter& operator=(const SettingsWriter&) = delete;

    // UI thread only. `key` names what is saved ("[Outputs] Deck1"); `failure` begins the error
    // line should the save fail, its cause following.
    void write(const std::string& key, Save save, const std::string& failure);

    // UI thread only: waits until every save queued so far has run, or `bound` has passed, and
    // reports their failures. The keys of the saves still undone, oldest first.
    std::vector<std::string> flush(std::chrono::milliseconds bound);

    // What the window waits for its last saves as the program ends.
    static constexpr std::chrono::milliseconds kEndBound{5000};

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared);
    void deliverReports();

    ErrorSink& errors;
    QObject relay;  // failures are posted to it, on the UI thread
    std::shared_ptr<Shared> shared;
};
