#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#include "doubles/recording_error_sink.h"
#include "engine/deck/stereo_frame.h"
#include "engine/output/audio_output.h"
#include "engine/output/sdl/sdl_output.h"
#include "engine/player/mp3_deck.h"

// The left channel of rendered frames, for the tone analysis.
inline std::vector<float> leftOf(std::span<const StereoFrame> frames) {
    std::vector<float> out;
    for (const auto& f : frames) out.push_back(f.left);
    return out;
}

// Whether the rig's output keeps a paused deck's queued audio (as SDL does) or drops it (as
// the sound server's streams do, so that the deck resumes by a seek to where it was heard).
enum class PauseQueue { Kept, Dropped };

// The hand-driven SDL output, saying that it drops a paused source's queue: the decks then take
// the sound server's paths through pause and play, with exact samples.
class QueueDroppingOutput final : public AudioOutput {
public:
    explicit QueueDroppingOutput(AudioOutput& inner) : inner(inner) {}
    int rate() const override { return inner.rate(); }
    bool ensureOpen() override { return inner.ensureOpen(); }
    bool isOpen() const override { return inner.isOpen(); }
    void addSource(AudioSource* source) override { inner.addSource(source); }
    void removeSource(AudioSource* source) override { inner.removeSource(source); }
    void follow(AudioSource& source) override { inner.follow(source); }
    bool dropsQueueOnPause() const override { return true; }

private:
    AudioOutput& inner;
};

inline const char* pauseQueueName(const ::testing::TestParamInfo<PauseQueue>& info) {
    return info.param == PauseQueue::Kept ? "QueueKept" : "QueueDropped";
}

// An output without a device, driven by hand, and decks on it: exact samples, no real time.
struct ManualDeckRig {
    explicit ManualDeckRig(int rate, int deckCount = 1, PauseQueue queue = PauseQueue::Kept) {
        SdlOutput::Options options;
        options.rate = rate;
        options.useDevice = false;
        output = std::make_unique<SdlOutput>(errors, options);
        if (queue == PauseQueue::Dropped) dropping = std::make_unique<QueueDroppingOutput>(*output);
        for (int i = 0; i < deckCount; ++i)
            decks.push_back(std::make_unique<Mp3Deck>(deckOutput(), errors));
    }
    ~ManualDeckRig() {
        decks.clear();
        dropping.reset();
        output.reset();
    }
    // What the decks play through.
    AudioOutput& deckOutput() {
        return dropping ? static_cast<AudioOutput&>(*dropping) : static_cast<AudioOutput&>(*output);
    }
    Mp3Deck& deck(int i = 0) { return *decks[i]; }

    // True when deck i has the next `frames` frames ready, or nothing to wait for (not
    // playing, or its track ends within what is decoded and nothing follows it).
    bool readyFor(int i, int frames) const {
        const DeckStream& stream = decks[i]->stream();
        const DeckControl::Word control = stream.control();
        if (control.phase != DeckControl::Phase::Playing &&
            control.phase != DeckControl::Phase::Cued)
            return true;
        const DeckStream::ReadableRange range = stream.readableRange(control.epoch);
        if (!range.current) return false;
        if (range.write - range.read >= static_cast<std::uint64_t>(frames)) return true;
        const std::uint64_t end = stream.endMark();
        return DeckStream::endWithin(end, control.epoch, range.read, range.write) &&
               stream.continuation() != end;
    }
    // Waits until every deck is ready for `frames` frames.
    bool waitUntilReady(int frames, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            // A render of no frames lets the decks drop stale data, as every real callback
            // does, so that their decoders find room for fresh data.
            StereoFrame none;
            output->render(&none, 0);
            bool ready = true;
            for (std::size_t i = 0; i < decks.size(); ++i)
                ready = ready && readyFor(static_cast<int>(i), frames);
            if (ready) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    // Renders `frames` frames in buffers of 512, each once the decks have data for it.
    std::vector<StereoFrame> render(std::size_t frames) {
        std::vector<StereoFrame> out(frames);
        for (std::size_t at = 0; at < frames; at += kBuffer) {
            const int n = static_cast<int>(std::min(kBuffer, frames - at));
            EXPECT_TRUE(waitUntilReady(n, std::chrono::seconds(10)));
            output->render(out.data() + at, n);
        }
        return out;
    }
    // Renders until deck i has stopped by itself (or maxFrames): what it played, up to the
    // end of the buffer in which it stopped.
    std::vector<StereoFrame> renderUntilStopped(std::size_t maxFrames, int i = 0) {
        std::vector<StereoFrame> out;
        while (decks[i]->playState() == Deck::Playing && out.size() < maxFrames) {
            auto chunk = render(kBuffer);
            out.insert(out.end(), chunk.begin(), chunk.end());
            decks[i]->followOutput();  // as the window's tick does: it reports a failed open
        }
        return out;
    }

    // Asks for sound as a real output's callback goes on doing, whatever the decks have, and
    // steps the decks as the window's tick does, until `done` holds: a deck ends a play by
    // itself only once it is asked for what follows, and reports its open from the tick.
    template <typename Done>
    bool askUntil(Done done, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        StereoFrame buffer[kBuffer];
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            output->render(buffer, static_cast<int>(kBuffer));
            for (auto& deck : decks) deck->followOutput();  // as the window's tick does
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    static constexpr std::size_t kBuffer = 512;
    RecordingErrorSink errors;
    std::unique_ptr<SdlOutput> output;
    std::unique_ptr<QueueDroppingOutput> dropping;  // over `output`, for PauseQueue::Dropped
    std::vector<std::unique_ptr<Mp3Deck>> decks;
};
