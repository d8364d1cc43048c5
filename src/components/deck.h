#pragma once

#include <chrono>
#include <string>
#include <vector>

// An output of the sound server a deck can play on: its name (bytes, as the server has it) and
// the description the desktop shows for it.
struct OutputDevice {
    std::string name;
    std::string description;
    bool operator==(const OutputDevice&) const = default;
};

// One playback deck. All calls come from the UI thread.
class Deck {
public:
    enum PlayState : int { Stopped = 0, Paused = 1, Playing = 2 };

    virtual ~Deck() = default;

    // A bare name is looked up in the process's current directory. A new name while a file
    // plays stops that file.
    virtual void setFileName(const std::string& name) = 0;
    // The loaded file's name without its directory; "" for an empty deck.
    virtual std::string fileName() const = 0;

    // Starts the file last set, or resumes after pause(). On return the state is Playing,
    // unless the file could not be opened: then it stays Stopped and the cause is reported.
    // An open that has not answered within a moment (0.2 s) is not waited for: the state reads
    // Playing, and turns Stopped with the cause once the open fails.
    virtual void play() = 0;
    virtual void pause() = 0;  // -> Paused, position kept
    virtual void stop() = 0;   // -> Stopped, position back to 0

    // Turns from Playing to Stopped by itself only once the last sample has been played or
    // the file failed mid-way.
    virtual int playState() const = 0;
    // Seconds; 0 while no file is loaded.
    virtual double duration() const = 0;
    // Seconds of audio actually played.
    virtual double currentPosition() const = 0;

    // Hundredths of a decibel, -10000 (silence) to 0 (full); clamped.
    virtual void setVolume(int volume) = 0;

    // Seek 10 s forward or back, clamped to the file.
    virtual void stepForward() = 0;
    virtual void stepBack() = 0;
    // Seek to `seconds`, clamped as the steps clamp: before the start is the start; at or
    // past the end the track is over.
    virtual void seek(double seconds) = 0;
    // The file set, placed at `seconds` (clamped as seek clamps) and paused there without a
    // sound, whatever state it was in: play() goes on from there. Nothing while none is loaded.
    virtual void pauseAt(double seconds) = 0;

    // For a caller that must not wait long on a disk (a skip over many entries): the file set
    // last is waited for at most `limit` from now, by play() and the getters together;
    // stillOpening() says when it answers.
    virtual void waitForOpenAtMost(std::chrono::milliseconds limit) = 0;
    // The file set has not answered its open yet: whether it plays is not known.
    virtual bool stillOpening() const = 0;

    // The tick, every 10 ms: the deck catches up with what its output did by itself (audio it
    // dropped unheard when its server went away), its open (a refusal that came after play(),
    // an open that does not answer) and its level, so that no getter has to change playback.
    virtual void followOutput() = 0;

    // The file that will most likely be set and played once the current track has ended. A
    // deck that can opens it early and plays it right after the current track's last sample;
    // the track still ends as always, and setting that file and playing it then goes on with
    // what already sounds. "" withdraws the cue; any other command drops it. A cued file that
    // cannot be opened is reported when it is set and played, as any other.
    virtual void cueNext(const std::string& /*name*/) {}
    // Seconds the cued file starts before the current track's end, rising on an equal-power
    // curve while the track falls, each at its own level (shortened to half of a file shorter
    // than twice that); the track ends, as far as its caller sees, where the cued file starts.
    // 0: the sample-exact join. A deck that cannot overlap files always joins them.
    virtual void setCrossfade(double /*seconds*/) {}
    virtual double crossfade() const { return 0; }

    // Where the deck's sound goes. A deck on a sound server that offers a choice lists its
    // outputs as they are now; elsewhere there is none to make.
    virtual bool offersOutputChoice() const { return false; }
    virtual std::vector<OutputDevice> outputDevices() const { return {}; }
    // The output chosen for the deck, by name; "" for the desktop's default. A chosen output
    // that is not there holds the deck, silent, until it is back: never another one.
    virtual std::string outputDevice() const { return {}; }
    virtual void chooseOutputDevice(const std::string& /*name*/) {}

    // Loudness levelling: each file at its own level (Off), or brought to one loudness track by
    // track, or album by album (an album's gain where the file has one, else the track's).
    // `preampDb` is added to the levelled gain. A deck that cannot level plays every file at
    // its own level.
    enum class Levelling { Off, Track, Album };
    virtual void setLevelling(Levelling /*mode*/, double /*preampDb*/) {}
    virtual Levelling levelling() const { return Levelling::Off; }
};
