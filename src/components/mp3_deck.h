#pragma once

#include <cstdint>
#include <string>

#include "components/deck.h"
#include "components/deck_stream.h"
#include "components/deck_voice.h"
#include "components/decoder_worker.h"
#include "components/output_registration.h"

class AudioOutput;
class ErrorSink;

// The real deck, as the window sees it: turns the window's commands into epochs for the
// decoder thread and the callback, and reads back what they did. UI thread only.
class Mp3Deck : public Deck {
public:
    Mp3Deck(AudioOutput& output, ErrorSink& errors);
    ~Mp3Deck() override;
    Mp3Deck(const Mp3Deck&) = delete;
    Mp3Deck& operator=(const Mp3Deck&) = delete;

    void setFileName(const std::string& name) override;
    std::string fileName() const override;
    void play() override;
    void pause() override;
    void stop() override;
    int playState() const override;
    double duration() const override;
    double currentPosition() const override;
    void setVolume(int volume) override;
    void stepForward() override;
    void stepBack() override;

    // Diagnostics and tests that drive the output by hand.
    const DeckStream& stream() const { return shared; }
    std::uint64_t underrunFrames() const {
        return shared.underruns.load(std::memory_order_relaxed);
    }

private:
    bool openFile();  // on failure keeps the cause in openError
    // Starts a new epoch at `targetFrame` of the file, in the phase `phaseFor` gives for the
    // phase it replaces: one atomic step, so that the end of the track cannot slip in between.
    void startEpoch(std::int64_t targetFrame, DeckControl::Phase (*phaseFor)(DeckControl::Phase),
                    std::unique_ptr<Mp3Decoder> decoder = nullptr, bool replace = false);
    void seekTo(double seconds);

    AudioOutput& output;
    ErrorSink& errors;

    std::string givenName;
    std::string path;  // absolute
    std::string openError;
    bool loaded = false;  // a decoder for `path` has been handed to the decoder thread
    int sourceRate = 0;
    std::int64_t estimatedLength = 0;  // frames at sourceRate
    std::uint32_t epoch = 0;
    std::int64_t epochStart = 0;  // source frame where the current epoch begins

    // Declared in the order they must start: the registration last, once the thread runs,
    // so that a deck whose thread fails to start leaves nothing behind in the output.
    DeckStream shared;
    DeckVoice voice{shared};
    DecoderWorker worker;
    OutputRegistration registration;
};
