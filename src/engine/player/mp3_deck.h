#pragma once

#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/deck.h"
#include "components/stranded_threads.h"
#include "engine/deck/deck_stream.h"
#include "engine/deck/deck_voice.h"
#include "engine/decode/decoder_worker.h"
#include "engine/loudness/levelling_gain.h"
#include "engine/output/audio_output.h"
#include "engine/output/output_registration.h"
#include "engine/player/level_follower.h"

class ErrorSink;
class LoudnessService;

// The real deck, as the window sees it: turns the window's commands into epochs for the
// decoder thread and the callback, and reads back what they did. UI thread only.
class Mp3Deck : public Deck {
public:
    // `label` names the deck's stream on the sound server ("Deck 1").
    Mp3Deck(AudioOutput& output, ErrorSink& errors, std::string label = "Deck");
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
    void seek(double seconds) override;
    void pauseAt(double seconds) override;
    void cueNext(const std::string& name) override;
    void setCrossfade(double seconds) override;
    double crossfade() const override { return crossfadeSeconds; }
    // The output dropped audio it had queued unheard (its server went away): the deck goes on
    // from where it was heard, not from what was dropped; and where the output now plays it at
    // another rate (its stream made anew on another sink), at that rate.
    void followOutput() override;
    bool offersOutputChoice() const override { return output.offersDevices(); }
    std::vector<OutputDevice> outputDevices() const override { return output.devices(); }
    std::string outputDevice() const override { return output.deviceFor(label); }
    void chooseOutputDevice(const std::string& name) override { output.chooseDevice(label, name); }
    void waitForOpenAtMost(std::chrono::milliseconds limit) override;
    bool stillOpening() const override { return !givenName.empty() && !openAnswered(); }

    // Where the deck learns its files' loudness; without one it never levels. The service
    // outlives the deck.
    void useLoudness(LoudnessService& service);
    void setLevelling(Levelling mode, double preampDb) override;
    Levelling levelling() const override { return levellingChoice; }

    // Diagnostics and tests that drive the output by hand.
    const DeckStream& stream() const { return lane->shared; }
    std::uint64_t underrunFrames() const { return lane->shared.underruns(); }

private:
    // A new track id for `path`, opened by the decoder thread, in a new stopped epoch at 0.
    void requestOpen();
    void forgetOpen();  // a new file, or the cued one taken up: its open is asked anew
    void sendOrders();
    // Debug builds check that every command comes from the thread that made the deck.
    void assertUiThread() const { assert(std::this_thread::get_id() == uiThread); }
    // The cued file sounds behind the ended track, not yet taken up by setFileName.
    bool soundsUnadoptedCue(DeckControl::Phase phase) const {
        return phase == DeckControl::Phase::Cued && !adoptedStart;
    }
    // What opening the current file found; nullptr while the decoder thread is still at it.
    // Waits until kOpenPatience after the file was named at most: a local file answers within
    // it, as if opened at once; a stalled disk holds the window once, briefly.
    const DecoderWorker::OpenReport* opened() const;
    bool loaded() const {
        const DecoderWorker::OpenReport* report = opened();
        return !givenName.empty() && report && report->ok;
    }
    bool opening() const { return !givenName.empty() && !opened(); }
    // From the tick: reports, once each, a failed open that play() went on without, and an
    // open that has not answered within kSlowOpen.
    void followOpen();
    // The failed open's line, once its answer is in; also when the next file is set, so that
    // a playlist's skip, which sets file after file between two ticks, loses none.
    void tellDueRefusal();
    void reportRefusal(const DecoderWorker::OpenReport& report) const;  // "Cannot play ..."
    // Seconds into the file now; with `interpolate`, within the buffer the device plays.
    double positionNow(bool interpolate) const;
    // The track has ended where the output read it, but the output still sounds its last
    // audio: it reads as playing until that is heard.
    bool tailSounds() const;
    void tellOutput() { output.follow(lane->voice); }
    // Starts a new epoch at `targetFrame` of the file, in the phase `phaseFor` gives for the
    // phase it replaces: one atomic step, so that the end of the track cannot slip in between.
    void startEpoch(std::int64_t targetFrame, DeckControl::Phase (*phaseFor)(DeckControl::Phase));
    void seekTo(double seconds);
    // The rate the output plays the deck at now: its stream's, else the output's own.
    int outputRate() const;
    // The output plays the deck at another rate than its epoch's audio was made for: the deck
    // goes on from where it stands with a new epoch at that rate, in the phase it is in.
    void followRate();
    double knownLength() const;  // seconds: exact once scanned or played to the end

    AudioOutput& output;
    ErrorSink& errors;
    const std::thread::id uiThread = std::this_thread::get_id();

    std::string givenName;
    std::string path;  // absolute
    std::uint32_t trackId = 0;
    std::uint32_t lastTrackId = 0;  // ids for files set and cued
    std::uint32_t cueTrackId = 0;   // 0: nothing cued
    std::string cuePath;            // absolute
    std::string cueGivenName;       // as the caller gave it
    // Ring index where the cued file taken up began: positions count from there.
    std::optional<std::uint64_t> adoptedStart;
    mutable std::optional<DecoderWorker::OpenReport> openReport;
    bool reportShown = false;  // play() has used the open's outcome; the next play opens again
    std::chrono::steady_clock::time_point openAsked;  // when the current file was named
    bool slowOpenTold = false;                        // followOpen's memory
    // Until when opened() may wait for the file set: kOpenPatience after it was named, or
    // less where the caller asked.
    std::chrono::steady_clock::time_point openWaitEnd;
    bool playAwaitsOpen = false;  // play() went on before the open answered
    std::uint32_t epoch = 0;
    std::int64_t epochStart = 0;  // source frame where the current epoch begins
    int epochRate = 0;            // the rate its audio is made at, and its clock counts in
    double pausedAt = 0;          // the position pause() froze, for pausedEpoch
    std::uint32_t pausedEpoch = ~0u;

    // The stream and the threads on it. Replaced whole when its decoder thread hangs on a
    // disk: a read the kernel waits on cannot be interrupted, and the thread must not write
    // into a ring another thread fills.
    struct Lane {
        Lane(AudioOutput& output, ErrorSink& errors, const std::string& label);
        // Once abandoned, its decoder thread and the thread that ends it, counted on the disk
        // they wait on until the lane is gone: first, so that it goes last.
        StrandedThreads::Hold stranded;
        // Declared in the order they must start: the registration last, once the decoder
        // thread runs (or has said it cannot).
        DeckStream shared;
        DeckStream::UiSide ui = shared.uiSide();
        DeckVoice voice;
        DecoderWorker worker;
        std::optional<OutputRegistration> registration;
    };
    // A lane at the deck's volume and path, on the output.
    std::unique_ptr<Lane> freshLane();
    // Takes a lane stuck on `waitsOn` out of the output and ends it on a thread of its own,
    // once that disk answers; the deck goes on with a fresh lane.
    void abandonLane(const std::string& waitsOn);
    // Starts the threads that end abandoned lanes, for those that had none yet.
    void endStrandedLanes();
    // From the tick: the file set waits behind a call on another file that does not answer
    // (a read of the last track, its length scan, the next file's open); it goes on in a fresh
    // lane, in the state the deck is in.
    void leaveStuckLane();
    bool openAnswered() const;  // without waiting
    // setFileName's work on the stream, before the new file's level is set.
    void takeFile();

    // Levelling: each file's frames get their own level, apart from the volume.
    void askLoudness(const std::string& file, bool urgent) { level.ask(file, urgent); }
    // Aims at the current file's level and sets the cued file's; `glide` only while the deck
    // sounds, at once otherwise.
    void aimLevel(bool glide);
    // From the tick: takes a result that came, and steps the glide. No I/O.
    void followLevel();
    void applyGain();
    void applyLevels() { lane->ui.setLevels(level.levels()); }
    // The file levelled: none before one is set. A reference, not a copy: the tick asks.
    const std::string& levelledFile() const {
        static const std::string none;
        return givenName.empty() ? none : path;
    }

    double crossfadeSeconds = 0;
    Levelling levellingChoice = Levelling::Off;
    LevelFollower level;

    const std::string label;
    float gain = 1.0f;  // the volume set, for a fresh lane
    std::unique_ptr<Lane> lane;
    std::vector<std::unique_ptr<Lane>> stranded;  // abandoned, with no thread to end them yet
    // The track refused before any thread went near its file: the decoder is given no path.
    std::uint32_t refusedTrack = 0;
};
