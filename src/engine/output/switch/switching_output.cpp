#include "engine/output/switch/switching_output.h"

#include <pthread.h>

#include <algorithm>
#include <cassert>
#include <utility>

#include "components/error_sink.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/play_clock.h"
#include "engine/output/sdl/sdl_output.h"

SwitchingOutput::SwitchingOutput(ErrorSink& errors, PulseOutput::Options options, SdlMaker makeSdl)
    : makeSdl(std::move(makeSdl)),
      retryInterval(options.retryInterval),
      rate_(options.rate),
      errors(errors) {
    pulse = PulseOutput::start(errors, std::move(options), [this](bool up) {
        // The main loop's thread, its lock held: news only.
        {
            std::lock_guard lock(wakeMutex);
            (up ? linkUp : linkDown) = true;
        }
        wake.notify_one();
    });
    std::lock_guard lock(mutex);
    if (!pulse) fallBack();  // no libpulse main loop: SDL alone
    switcher = std::thread([this] { run(); });
}

SwitchingOutput::~SwitchingOutput() {
    {
        std::lock_guard lock(wakeMutex);
        quit = true;
    }
    wake.notify_one();
    switcher.join();
    sdl.reset();
    pulse.reset();
}

void SwitchingOutput::run() {
    pthread_setname_np(pthread_self(), "output switch");
    for (;;) {
        bool up = false, down = false;
        bool probing;
        {
            std::lock_guard state(mutex);
            probing = on == On::Sdl && pulse && anySourcePlaying();
        }
        {
            std::unique_lock lock(wakeMutex);
            const auto news = [&] { return quit || linkUp || linkDown || poked; };
            // While a source plays on SDL the server is asked once a retryInterval; else this
            // thread sleeps until there is news.
            if (probing)
                wake.wait_for(lock, retryInterval, news);
            else
                wake.wait(lock, news);
            if (quit) return;
            up = std::exchange(linkUp, false);
            down = std::exchange(linkDown, false);
            poked = false;
        }
        std::unique_ptr<SdlOutput> retired;
        {
            std::lock_guard lock(mutex);
            if (on == On::Deciding && pulse->isOpen()) on = On::Server;
            if (on == On::Deciding && down) fallBack();
            if (on == On::Sdl && up && pulse->isOpen()) retired = moveToServer();
            if (on == On::Sdl && pulse && anySourcePlaying()) pulse->ensureOpen();
        }
        // Closing SDL's device may wait on a server that went away: not with the lock held.
        retired.reset();
    }
}

void SwitchingOutput::fallBack() {
    assert(on == On::Deciding);
    if (pulse)
        for (AudioSource* source : sources) pulse->removeSource(source);
    sdl = makeSdl();
    assert(sdl->rate() == rate_);
    for (AudioSource* source : sources)
        if (playsOnSdl(source)) sdl->addSource(source);
    on = On::Sdl;
    if (wanted || anySourcePlaying()) sdl->ensureOpen();
}

std::unique_ptr<SdlOutput> SwitchingOutput::moveToServer() {
    assert(on == On::Sdl);
    const std::int64_t now = steadyNanoseconds();
    for (AudioSource* source : sources) {
        sdl->removeSource(source);
        // What SDL had taken is not heard: each goes on from where it was.
        source->holdClock(now, rate_);
    }
    for (AudioSource* source : sources) {
        pulse->addSource(source);
        pulse->follow(*source);
    }
    on = On::Server;
    waitTold.clear();
    return std::move(sdl);
}

bool SwitchingOutput::playsOnSdl(const AudioSource* source) {
    const std::string label = source->label();
    const std::string device = pulse ? pulse->deviceFor(label) : std::string();
    if (device.empty()) {
        std::erase(waitTold, label);
        return true;
    }
    if (std::find(waitTold.begin(), waitTold.end(), label) == waitTold.end()) {
        waitTold.push_back(label);
        errors.report(label + " waits for its output \"" + device +
                      "\": no sound server answers, and the system's default device is not it");
    }
    return false;
}

bool SwitchingOutput::offersDevices() const {
    std::lock_guard lock(mutex);
    return on == On::Server;
}

std::vector<OutputDevice> SwitchingOutput::devices() const {
    std::lock_guard lock(mutex);
    return on == On::Server ? pulse->devices() : std::vector<OutputDevice>{};
}

std::string SwitchingOutput::deviceFor(const std::string& label) const {
    std::lock_guard lock(mutex);
    return pulse ? pulse->deviceFor(label) : std::string();
}

void SwitchingOutput::chooseDevice(const std::string& label, const std::string& device) {
    std::lock_guard lock(mutex);
    if (!pulse) return;  // SDL alone: nothing else to play on
    pulse->chooseDevice(label, device);
    if (on != On::Sdl) return;
    const std::int64_t now = steadyNanoseconds();
    for (AudioSource* source : sources) {
        if (source->label() != label) continue;
        sdl->removeSource(source);
        if (!playsOnSdl(source)) {
            source->holdClock(now, rate_);  // what SDL had taken is not heard
            continue;
        }
        sdl->addSource(source);
        sdl->follow(*source);
    }
}

AudioOutput* SwitchingOutput::current() const {
    if (on == On::Sdl) return sdl.get();
    return pulse.get();
}

bool SwitchingOutput::anySourcePlaying() const {
    return std::any_of(sources.begin(), sources.end(),
                       [](const AudioSource* source) { return source->isPlaying(); });
}

bool SwitchingOutput::ensureOpen() {
    std::lock_guard lock(mutex);
    switch (on) {
        case On::Deciding:
            wanted = true;
            if (!pulse->ensureOpen()) return false;
            on = On::Server;
            return true;
        case On::Server:
            return pulse->ensureOpen();
        case On::Sdl:
            if (pulse) pulse->ensureOpen();  // a server come since is taken at once
            {
                std::lock_guard news(wakeMutex);
                poked = true;  // and asked again while a source plays
            }
            wake.notify_one();
            return sdl->ensureOpen();
    }
    return false;
}

bool SwitchingOutput::isOpen() const {
    std::lock_guard lock(mutex);
    return on != On::Deciding && current()->isOpen();
}

bool SwitchingOutput::onServer() const {
    std::lock_guard lock(mutex);
    return on == On::Server;
}

void SwitchingOutput::addSource(AudioSource* source) {
    std::lock_guard lock(mutex);
    sources.push_back(source);
    if (on != On::Sdl || playsOnSdl(source)) current()->addSource(source);
}

void SwitchingOutput::removeSource(AudioSource* source) {
    std::lock_guard lock(mutex);
    const auto found = std::find(sources.begin(), sources.end(), source);
    if (found == sources.end()) return;
    sources.erase(found);
    current()->removeSource(source);
}

void SwitchingOutput::follow(AudioSource& source) {
    std::lock_guard lock(mutex);
    current()->follow(source);
}

bool SwitchingOutput::dropsQueueOnPause() const {
    std::lock_guard lock(mutex);
    return current()->dropsQueueOnPause();
}
