#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "components/audio_source.h"
#include "components/deck.h"
#include "components/spsc_ring.h"
#include "components/stereo_frame.h"

class AudioOutput;
class ErrorSink;
class Mp3Decoder;

// The real deck: libmpg123 on a decoder thread of its own fills a lock-free ring with frames
// at the output's rate; the output's callback drains it with the deck's gain.
//
// Every command that moves the playing position (a new file, stop, a step) starts a new
// "epoch". The decoder marks where in the ring its data for an epoch begins; the callback
// drops whatever lies before that mark, so no thread ever waits for another to flush.
class Mp3Deck : public Deck, private AudioSource {
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

    // Diagnostics: frames the callback wanted while playing but found no data for.
    std::uint64_t underrunFrames() const { return underruns.load(); }

private:
    struct Command;
    // AudioSource, on the audio thread.
    void mixInto(StereoFrame* out, int frames) noexcept override;
    void outputLost() noexcept override;
    bool readyFor(int frames) const override;

    bool openFile();  // UI thread; on failure keeps the cause in openError
    void startEpoch(std::int64_t targetFrame, int state, std::unique_ptr<Mp3Decoder> decoder,
                    bool replace);
    void seekTo(double seconds);
    void wakeDecoder();
    void decoderLoop();

    AudioOutput& output;
    ErrorSink& errors;

    // UI thread only.
    std::string givenName;
    std::string path;  // absolute
    std::string openError;
    bool loaded = false;  // a decoder for `path` has been handed to the decoder thread
    int sourceRate = 0;
    std::int64_t estimatedLength = 0;  // frames at sourceRate
    std::uint32_t epoch = 0;
    std::int64_t epochStart = 0;  // source frame where the current epoch begins
    int stateSetByUi = Stopped;
    bool atStart = true;  // stopped at 0 since the last open or stop: stop() has nothing to do

    // Crossing threads.
    std::atomic<std::uint64_t> control{0};      // epoch << 8 | play state; UI, callback at the end
    std::atomic<std::uint64_t> segment{0};      // epoch, ring index where its data begins; decoder
    std::atomic<std::uint64_t> endMark{~0ull};  // epoch, ring index of its end; decoder
    std::atomic<std::uint64_t> played{0};       // epoch, frames of it played; callback
    std::atomic<std::uint64_t> exactLength{0};  // track, exact frames; decoder after a scan
    std::atomic<std::uint32_t> track{0};        // which file is current; UI
    std::atomic<float> gain{1.0f};
    std::atomic<bool> lostWhilePlaying{false};
    std::atomic<std::uint64_t> underruns{0};
    SpscRing<StereoFrame> ring;
    float appliedGain = 1.0f;  // audio thread only, like the next
    bool sounding = false;     // the last buffer played this deck

    // UI -> decoder thread mailbox; held only to post or take a command.
    std::mutex mailboxMutex;
    std::condition_variable mailboxChanged;
    std::unique_ptr<Command> pending;
    bool quit = false;
    std::thread decoderThread;
};
