#pragma once

#include <span>
#include <string>
#include <vector>

class AudioSource;
class ErrorSink;

// What the sources play, for a report: "a.mp3 and b.mp3"; "" when none plays. Not for the
// output's callback: the sources' names are behind a mutex.
std::string playingNames(std::span<AudioSource* const> sources);

// What an output tells the error list about its sound, each once an outage: the sound lost,
// none to be had, and its return. The caller serialises the calls (its lock or its thread).
class OutageReport {
public:
    explicit OutageReport(ErrorSink& errors) : errors(errors) {}

    // "Sound output lost", naming what was playing when there was something.
    void lost(const std::string& names);
    // The sound server went away while the decks `labels` waited for their chosen outputs, and
    // nothing else was heard: nothing was lost while playing, and no output failed to open.
    void goneWhileWaiting(const std::vector<std::string>& labels);
    // "No sound output: <cause>", unless a loss or another failure was told already.
    void noOutput(const std::string& cause);
    // Sound flows again: "Sound output is back" when a loss or a failure was told.
    void back();
    bool told() const { return state != Told::Nothing; }

private:
    enum class Told { Nothing, Loss, Failure };
    ErrorSink& errors;
    Told state = Told::Nothing;
};
