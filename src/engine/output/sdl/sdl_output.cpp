#include "engine/output/sdl/sdl_output.h"

#include <SDL2/SDL.h>
#include <pthread.h>

#include <algorithm>
#include <system_error>
#include <utility>

#include "components/error_sink.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/verify.h"
#include "engine/output/stall_rule.h"

using Clock = std::chrono::steady_clock;

namespace {
// A device has started once it called back this often (about 200 ms of sound); before that
// it may wait longer for the server.
constexpr std::uint64_t kSteadyCallbacks = 20;
constexpr std::chrono::seconds kStartLimit{5};
}  // namespace

// What one opened SDL device's callback sees. It lives until SDL_CloseAudioDevice has
// returned, as the callback may run until then.
struct SdlOutput::Device {
    SdlOutput* owner = nullptr;
    SDL_AudioDeviceID id = 0;
    std::atomic<bool> lost{false};     // set by the callback when SDL disabled the device
    std::atomic<bool> retired{false};  // lost or being closed: the callback touches nothing
    std::atomic<std::uint64_t> callbacks{0};
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

SdlOutput::SdlOutput(ErrorSink& errors) : SdlOutput(errors, Options{}) {}

SdlOutput::SdlOutput(ErrorSink& errors, Options options)
    : errors(errors), options(options), outage(errors) {
    if (!options.useDevice) return;
    // Read when SDL's audio starts: sound settings list the stream under the player's name,
    // not "SDL Application".
    SDL_SetHint(SDL_HINT_APP_NAME, this->options.appName.c_str());
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, this->options.appName.c_str());
}

SdlOutput::~SdlOutput() {
    {
        std::lock_guard lock(mutex);
        quit = true;
    }
    keeperWake.notify_all();
    if (keeper.joinable()) keeper.join();
    if (device) closeDevice(std::move(device));
    if (sdlStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlOutput::isOpen() const {
    if (!options.useDevice) return true;
    std::lock_guard lock(mutex);
    return state == State::Open && device && !device->lost.load(std::memory_order_relaxed);
}

bool SdlOutput::ensureOpen() {
    if (!options.useDevice) return true;
    std::unique_lock lock(mutex);
    if (state == State::Open) return true;  // a loss not yet seen is the keeper's to handle
    if (state == State::Opening) return false;
    if (state == State::Reopening || state == State::Resting) {
        retryNow = true;
        keeperWake.notify_one();
        return false;
    }
    // Two live devices would each take the decks' rings: one must be closed before another opens.
    if (!verifyOrReport(!device, errors, "Sound output: a device is open already")) return false;
    if (options.openInBackground) {
        state = State::Opening;
        if (startKeeper()) {
            keeperWake.notify_one();
            return false;
        }
        state = State::Idle;  // no thread to spare: opened here after all
    }
    std::string cause;
    device = openDevice(cause);
    state = device ? State::Open : State::Reopening;
    if (device) SDL_PauseAudioDevice(device->id, 0);
    if (!device) outage.noOutput(cause);  // before there is a keeper to tell the rest
    startKeeper();
    return state == State::Open;
}

bool SdlOutput::startKeeper() {
    if (keeper.joinable()) return true;
    try {
        keeper = std::thread([this] { keep(); });
        return true;
    } catch (const std::system_error&) {
        // No thread to spare: a lost device stays lost until the program starts again.
        return false;
    }
}

void SdlOutput::openNow(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::string cause;
    std::unique_ptr<Device> opened = openDevice(cause);
    if (!opened) outage.noOutput(cause);
    lock.lock();
    if (!opened) {
        state = State::Reopening;  // tried again once a second while a source plays
        return;
    }
    takeIntoUse(lock, std::move(opened));
}

std::unique_ptr<SdlOutput::Device> SdlOutput::openDevice(std::string& cause) {
    if (!sdlStarted) {
        // SDL would catch SIGINT and SIGTERM as events nobody reads: the player could not be
        // ended.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            cause = SDL_GetError();
            return nullptr;
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
    want.callback = &SdlOutput::callback;
    want.userdata = opened.get();
    SDL_AudioSpec have{};
    // No "allow" flags: SDL converts to whatever the hardware wants, so our rate is fixed.
    opened->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (opened->id == 0) {
        cause = SDL_GetError();
        // Start SDL's audio afresh next time, so that a sound server that has come back (or
        // another driver) is found: SDL keeps its first connection to the server for good.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        sdlStarted = false;
        return nullptr;
    }
    return opened;  // paused until taken into use
}

void SdlOutput::holdSources(Device& lost) {
    // Its callback, should it come again (a hung server that thaws), touches no source from
    // now on; one under way ends first. The slot and the count are sequentially consistent,
    // as in removeSource().
    lost.retired.store(true, std::memory_order_seq_cst);
    while (activeCallbacks.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
    // What the device had taken is not heard: each clock stands where the sound stopped, and
    // stands so from the loss's report on, not a buffer later.
    const std::int64_t now = steadyNanoseconds();
    for (auto& slot : sources)
        if (AudioSource* source = slot.load(std::memory_order_seq_cst))
            source->holdClock(now, options.rate);
}

void SdlOutput::closeDevice(std::unique_ptr<Device> old) {
    old->retired.store(true, std::memory_order_seq_cst);
    // May block for a while on a server that went away: never on the UI thread's time, but
    // at the end of the program.
    SDL_CloseAudioDevice(old->id);
}

void SdlOutput::keep() {
    pthread_setname_np(pthread_self(), "audio keeper");
    std::unique_lock lock(mutex);
    while (!quit) {
        switch (state) {
            case State::Idle:
                keeperWake.wait(lock);
                break;
            case State::Open:
                switch (watch(lock)) {
                    case Watched::Quit:
                        break;
                    case Watched::Unused:
                        rest(lock);
                        break;
                    case Watched::Lost:
                        giveUpLost(lock);
                        break;
                }
                break;
            case State::Opening:
                openNow(lock);
                break;
            case State::Reopening:
                reopen(lock);
                break;
            case State::Resting:
                wakeFromRest(lock);
                break;
        }
    }
}

void SdlOutput::rest(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<Device> unused = std::move(device);
    state = State::Resting;
    retryNow = false;
    lock.unlock();
    closeDevice(std::move(unused));
    lock.lock();
}

void SdlOutput::giveUpLost(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<Device> lost = std::move(device);
    state = State::Reopening;
    retryNow = false;
    const std::string names = namesPlaying();
    holdSources(*lost);
    lock.unlock();
    outage.lost(names);
    closeDevice(std::move(lost));
    // The old connection to the server is dead: start SDL's audio afresh.
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    lock.lock();
    sdlStarted = false;
}

SdlOutput::Watched SdlOutput::watch(std::unique_lock<std::mutex>& lock) {
    // A device that runs calls back every buffer; one that has not called back for
    // `stallLimit` while a source plays is gone, whatever SDL says. Only once it runs
    // steadily, though: a new stream may wait a second for the server after its first buffer.
    // The keeper's own lateness (a machine so busy that no thread ran) does not count against
    // the device.
    const auto period = options.stallLimit / 4;
    StallRule stall({options.stallLimit, kStartLimit, period});
    std::uint64_t seen = device->callbacks.load(std::memory_order_relaxed);
    const auto openedAt = Clock::now();
    stall.restart(openedAt);
    auto playedAt = openedAt;
    while (!quit && state == State::Open) {
        keeperWake.wait_for(lock, period);
        if (quit || state != State::Open) return Watched::Quit;
        const auto now = Clock::now();
        if (device->lost.load(std::memory_order_relaxed)) return Watched::Lost;
        const bool playing = anySourcePlaying();
        if (playing) playedAt = now;
        const std::uint64_t count = device->callbacks.load(std::memory_order_relaxed);
        if (count != seen) stall.progressed(now, count >= kSteadyCallbacks);
        seen = count;
        if (stall.stalled(now, playing)) return Watched::Lost;
        if (options.restAfter.count() > 0 && now - playedAt >= options.restAfter)
            return Watched::Unused;
    }
    return Watched::Quit;
}

void SdlOutput::wakeFromRest(std::unique_lock<std::mutex>& lock) {
    keeperWake.wait(lock, [&] { return quit || retryNow; });
    if (quit) return;
    retryNow = false;
    openNow(lock);
}

void SdlOutput::reopen(std::unique_lock<std::mutex>& lock) {
    keeperWake.wait_for(lock, options.retryInterval, [&] { return quit || retryNow; });
    if (quit) return;
    const bool wanted = std::exchange(retryNow, false) || anySourcePlaying();
    lock.unlock();
    std::string cause;
    std::unique_ptr<Device> opened = wanted ? openDevice(cause) : nullptr;
    if (opened) outage.back();
    lock.lock();
    if (!opened) return;
    takeIntoUse(lock, std::move(opened));
}

void SdlOutput::takeIntoUse(std::unique_lock<std::mutex>& lock, std::unique_ptr<Device> opened) {
    if (quit) {  // the output is ending
        lock.unlock();
        closeDevice(std::move(opened));
        lock.lock();
        return;
    }
    if (!verifyOrReport(!device, errors, "Sound output: a device is open already")) {
        lock.unlock();
        closeDevice(std::move(opened));
        lock.lock();
        return;
    }
    device = std::move(opened);
    state = State::Open;
    // The sources' clocks run again only once the output says it is open.
    SDL_PauseAudioDevice(device->id, 0);
}

// Keeper, holding `mutex`: removeSource() takes it too, so no source goes away meanwhile.
bool SdlOutput::anySourcePlaying() const {
    for (const auto& slot : sources)
        if (AudioSource* source = slot.load(std::memory_order_seq_cst);
            source && source->isPlaying())
            return true;
    return false;
}

std::string SdlOutput::namesPlaying() const {
    std::array<AudioSource*, kMaxSources> playing{};
    for (std::size_t i = 0; i < playing.size(); ++i)
        playing[i] = sources[i].load(std::memory_order_seq_cst);
    return playingNames(playing);
}

void SdlOutput::addSource(AudioSource* source) {
    source->playAt(options.rate);  // the device converts from it, whatever the hardware runs at
    for (auto& slot : sources) {
        AudioSource* empty = nullptr;
        if (slot.compare_exchange_strong(empty, source, std::memory_order_seq_cst)) return;
    }
    verifyOrReport(false, errors,
                   "Sound output: room for " + std::to_string(kMaxSources) +
                       " decks only; one more stays silent");
}

void SdlOutput::removeSource(AudioSource* source) {
    // The keeper asks the sources for their states and names while it holds the mutex.
    std::lock_guard lock(mutex);
    for (auto& slot : sources) {
        AudioSource* expected = source;
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst);
    }
    // A callback that began before the slot was cleared may still hold the source; one that
    // begins later cannot see it: the slot and the count are both sequentially consistent,
    // so one of the two threads sees the other's write.
    while (activeCallbacks.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

void SdlOutput::mix(StereoFrame* out, int frames, std::int64_t deviceTime) noexcept {
    std::fill(out, out + frames, StereoFrame{});
    for (auto& slot : sources)
        if (AudioSource* source = slot.load(std::memory_order_seq_cst))
            source->mixInto(out, frames, MixTiming{deviceTime, 0, true});
    for (int i = 0; i < frames; ++i) {
        out[i].left = std::clamp(out[i].left, -1.0f, 1.0f);
        out[i].right = std::clamp(out[i].right, -1.0f, 1.0f);
    }
}

void SdlOutput::render(StereoFrame* out, int frames) noexcept {
    activeCallbacks.fetch_add(1, std::memory_order_seq_cst);
    mix(out, frames, 0);
    activeCallbacks.fetch_sub(1, std::memory_order_seq_cst);
}

void SdlOutput::callback(void* userdata, unsigned char* stream, int length) {
    auto* device = static_cast<Device*>(userdata);
    SdlOutput& self = *device->owner;
    auto* out = reinterpret_cast<StereoFrame*>(stream);
    const int frames = length / static_cast<int>(sizeof(StereoFrame));
    self.activeCallbacks.fetch_add(1, std::memory_order_seq_cst);
    device->callbacks.fetch_add(1, std::memory_order_relaxed);
    if (device->retired.load(std::memory_order_seq_cst) ||
        device->lost.load(std::memory_order_relaxed)) {
        std::fill(out, out + frames, StereoFrame{});
    } else if (SDL_GetAudioDeviceStatus(device->id) != SDL_AUDIO_PLAYING) {
        // SDL may call back once more after the device is gone: consume nothing, so that the
        // sources keep their places for the device that replaces it.
        std::fill(out, out + frames, StereoFrame{});
        device->lost.store(true, std::memory_order_relaxed);
    } else {
        self.mix(out, frames, steadyNanoseconds());
    }
    self.activeCallbacks.fetch_sub(1, std::memory_order_seq_cst);
}
