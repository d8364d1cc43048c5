#include "components/audio_output.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "components/audio_source.h"
#include "components/error_sink.h"

// What one opened SDL device's callback sees. It lives until SDL_CloseAudioDevice has
// returned, as the callback may run until then.
struct AudioOutput::Device {
    AudioOutput* owner = nullptr;
    SDL_AudioDeviceID id = 0;
    std::atomic<bool> lost{false};     // set by the callback when SDL disabled the device
    std::atomic<bool> retired{false};  // being closed: the callback touches nothing
};

AudioOutput::AudioOutput(ErrorSink& errors) : AudioOutput(errors, Options{}) {}

AudioOutput::AudioOutput(ErrorSink& errors, Options options) : errors(errors), options(options) {}

AudioOutput::~AudioOutput() {
    if (device) {
        device->retired.store(true, std::memory_order_release);
        SDL_CloseAudioDevice(device->id);
        device.reset();
    }
    reapClosers(true);
    if (sdlStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool AudioOutput::isOpen() const {
    return !options.useDevice || (device && !device->lost.load(std::memory_order_acquire));
}

bool AudioOutput::ensureOpen() {
    if (!options.useDevice) return true;
    reapClosers(false);
    if (device && device->lost.load(std::memory_order_acquire)) retire(std::move(device));
    if (device) return true;
    if (!sdlStarted) {
        // SDL would catch SIGINT and SIGTERM as events nobody reads: the player could not be
        // ended.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            errors.report(std::string("No sound output: ") + SDL_GetError());
            return false;
        }
        sdlStarted = true;
    }
    auto opened = std::make_unique<Device>();
    opened->owner = this;
    SDL_AudioSpec want{};
    want.freq = options.rate;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(options.bufferFrames);
    want.callback = &AudioOutput::callback;
    want.userdata = opened.get();
    SDL_AudioSpec have{};
    // No "allow" flags: SDL converts to whatever the hardware wants, so our rate is fixed.
    opened->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (opened->id == 0) {
        errors.report(std::string("No sound output: ") + SDL_GetError());
        // Start SDL's audio afresh next time, so that a sound server that has come back (or
        // another driver) is found.
        if (closers.empty()) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            sdlStarted = false;
        }
        return false;
    }
    device = std::move(opened);
    SDL_PauseAudioDevice(device->id, 0);
    return true;
}

void AudioOutput::retire(std::unique_ptr<Device> old) {
    old->retired.store(true, std::memory_order_release);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([d = std::move(old), done] {
        SDL_CloseAudioDevice(d->id);
        done->store(true, std::memory_order_release);
    });
    closers.push_back({std::move(thread), done});
}

void AudioOutput::reapClosers(bool wait) {
    for (auto it = closers.begin(); it != closers.end();) {
        if (wait || it->done->load(std::memory_order_acquire)) {
            it->thread.join();
            it = closers.erase(it);
        } else {
            ++it;
        }
    }
}

void AudioOutput::addSource(AudioSource* source) {
    for (auto& slot : sources) {
        AudioSource* empty = nullptr;
        if (slot.compare_exchange_strong(empty, source, std::memory_order_seq_cst)) return;
    }
}

void AudioOutput::removeSource(AudioSource* source) {
    for (auto& slot : sources) {
        AudioSource* expected = source;
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
    }
    // A callback that began before the slot was cleared may still hold the source; one that
    // begins later cannot see it: the slot and the count are both sequentially consistent,
    // so one of the two threads sees the other's write.
    while (activeCallbacks.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

void AudioOutput::mix(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept {
    std::fill(out, out + frames, StereoFrame{});
    for (auto& slot : sources)
        if (AudioSource* source = slot.load(std::memory_order_seq_cst))
            source->mixInto(out, frames, deviceTime);
    for (int i = 0; i < frames; ++i) {
        out[i].left = std::clamp(out[i].left, -1.0f, 1.0f);
        out[i].right = std::clamp(out[i].right, -1.0f, 1.0f);
    }
}

void AudioOutput::render(StereoFrame* out, int frames) noexcept {
    activeCallbacks.fetch_add(1, std::memory_order_seq_cst);
    mix(out, frames, 0);
    activeCallbacks.fetch_sub(1, std::memory_order_seq_cst);
}

void AudioOutput::callback(void* userdata, unsigned char* stream, int length) {
    auto* device = static_cast<Device*>(userdata);
    AudioOutput& self = *device->owner;
    auto* out = reinterpret_cast<StereoFrame*>(stream);
    const int frames = length / static_cast<int>(sizeof(StereoFrame));
    self.activeCallbacks.fetch_add(1, std::memory_order_seq_cst);
    if (device->retired.load(std::memory_order_acquire)) {
        std::fill(out, out + frames, StereoFrame{});
    } else if (device->lost.load(std::memory_order_acquire) ||
               SDL_GetAudioDeviceStatus(device->id) != SDL_AUDIO_PLAYING) {
        // SDL goes on calling back after the device is gone: consume nothing, so that the
        // decks' clocks stop with the sound.
        std::fill(out, out + frames, StereoFrame{});
        if (!device->lost.exchange(true, std::memory_order_acq_rel))
            for (auto& slot : self.sources)
                if (AudioSource* source = slot.load(std::memory_order_seq_cst))
                    source->outputLost();
    } else {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        self.mix(out, frames, now);
    }
    self.activeCallbacks.fetch_sub(1, std::memory_order_seq_cst);
}
