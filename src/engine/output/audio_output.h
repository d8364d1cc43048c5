#pragma once

#include <string>
#include <vector>

#include "components/deck.h"

class AudioSource;

// Where the decks' sound goes: the sound server's own streams (PulseOutput), or one SDL device
// that mixes them (SdlOutput) where no sound server answers. UI thread, but for removeSource,
// which any thread but the output's own may call.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    virtual int rate() const = 0;
    // Before a source plays. Starts the output if it is not running, reporting once why it
    // cannot; true when sound can be heard now. Without it the sources wait, silent, while the
    // output keeps trying in the background.
    virtual bool ensureOpen() = 0;
    virtual bool isOpen() const = 0;

    // At most kMaxSources at once. Once removeSource() returns, nothing of the output uses the
    // source any more.
    virtual void addSource(AudioSource* source) = 0;
    virtual void removeSource(AudioSource* source) = 0;
    // After each command to a source (play, pause, stop, a seek, a new file, its volume): an
    // output that holds audio ahead acts on it at once.
    virtual void follow(AudioSource& source) = 0;
    // Whether a source's audio queued ahead is dropped when it pauses: it then resumes from
    // where it was heard, not from where it was read.
    virtual bool dropsQueueOnPause() const = 0;

    // The sound server's outputs a source can be sent to, for outputs that offer a choice. The
    // choice is the source's by its label ("Deck 2"), kept for sources added later and across
    // reconnects; "" follows the desktop's default. A source whose chosen device is not there
    // waits for it, silent, from where it was heard.
    virtual bool offersDevices() const { return false; }
    virtual std::vector<OutputDevice> devices() const { return {}; }
    virtual void chooseDevice(const std::string& /*label*/, const std::string& /*device*/) {}
    virtual std::string deviceFor(const std::string& /*label*/) const { return {}; }

    static constexpr int kMaxSources = 4;
};
