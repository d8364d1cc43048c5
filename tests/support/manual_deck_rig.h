#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "components/audio_output.h"
#include "components/mp3_deck.h"
#include "components/stereo_frame.h"
#include "doubles/recording_error_sink.h"

// An output without a device, driven by hand, and decks on it: exact samples, no real time.
struct ManualDeckRig {
    explicit ManualDeckRig(int rate, int deckCount = 1) {
        AudioOutput::Options options;
        options.rate = rate;
        options.useDevice = false;
        output = std::make_unique<AudioOutput>(errors, options);
        for (int i = 0; i < deckCount; ++i)
            decks.push_back(std::make_unique<Mp3Deck>(*output, errors));
    }
    ~ManualDeckRig() {
        decks.clear();
        output.reset();
    }
    Mp3Deck& deck(int i = 0) { return *decks[i]; }

    // Renders `frames` frames in buffers of 512, each once the decks have data for it.
    std::vector<StereoFrame> render(std::size_t frames) {
        std::vector<StereoFrame> out(frames);
        for (std::size_t at = 0; at < frames; at += kBuffer) {
            const int n = static_cast<int>(std::min(kBuffer, frames - at));
            EXPECT_TRUE(output->waitUntilReady(n, std::chrono::seconds(10)));
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
        }
        return out;
    }

    static constexpr std::size_t kBuffer = 512;
    RecordingErrorSink errors;
    std::unique_ptr<AudioOutput> output;
    std::vector<std::unique_ptr<Mp3Deck>> decks;
};
