// The output the decks see: sources come and go, follow their decks' commands and choose
// their devices; everything else is the parts' in the other files.
#include "engine/output/pulse/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <limits>
#include <utility>

#include "components/error_sink.h"
#include "engine/deck/audio_source.h"
#include "engine/deck/play_clock.h"
#include "engine/deck/verify.h"
#include "engine/output/pulse/pulse_stream.h"

using namespace pulse_parts;

PulseOutput::PulseOutput(ErrorSink& errors, Options options, LinkListener listener)
    : errors(errors),
      options(std::move(options)),
      listener(std::move(listener)),
      streams(std::make_unique<std::array<Stream, kMaxSources>>()),
      sinks({[this] { sinksListed(); }, [this](const std::string& name) { sinkAppeared(name); },
             [this](const std::string& name) { sinkGone(name); },
             [this](const std::string& name) { sinkRateChanged(name); }}),
      outage(errors),
      watchAt(kNever) {
    loop = pa_threaded_mainloop_new();
    if (!loop) return;
    pa_threaded_mainloop_set_name(loop, "pulse output");
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    watchTimer = api->time_new(api, nullptr, &PulseOutput::onWatch, this);
    const std::size_t historySize = historyFrames(this->options.rate);
    scratch.resize(historySize);
    for (Stream& stream : *streams) {
        stream.owner = this;
        stream.retry = api->time_new(api, nullptr, &PulseOutput::onRetry, &stream);
        stream.fadeDone = api->time_new(api, nullptr, &PulseOutput::onFadeDone, &stream);
        stream.kept.reserve(historySize);
        stream.stall = StallRule({this->options.stallLimit, kStartLimit, kWatchPeriod});
    }
    if (pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
}

PulseOutput::~PulseOutput() {
    if (!loop) return;
    {
        LoopLock lock(loop);
        for (Stream& stream : *streams) closeStream(stream);
        dropContext();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        for (Stream& stream : *streams) {
            api->time_free(stream.retry);
            api->time_free(stream.fadeDone);
        }
        api->time_free(watchTimer);
    }
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

std::unique_ptr<PulseOutput> PulseOutput::start(ErrorSink& errors, Options options,
                                                LinkListener listener) {
    std::unique_ptr<PulseOutput> output(
        new PulseOutput(errors, std::move(options), std::move(listener)));
    if (!output->loop) return nullptr;
    LoopLock lock(output->loop);
    output->startConnect();
    return output;
}

std::unique_ptr<PulseOutput> PulseOutput::connect(ErrorSink& errors, Options options,
                                                  std::chrono::milliseconds patience,
                                                  std::string& cause) {
    std::unique_ptr<PulseOutput> output = start(errors, std::move(options));
    if (!output) {
        cause = "libpulse's main loop did not start";
        return nullptr;
    }
    {
        LoopLock lock(output->loop);
        const auto deadline = Clock::now() + patience;
        output->armWatch(patience);  // wakes the wait below at the deadline
        while (output->link == Link::Connecting && Clock::now() < deadline)
            pa_threaded_mainloop_wait(output->loop);
        if (output->link == Link::Ready) return output;
        cause = output->lastCause.empty() ? "the sound server does not answer" : output->lastCause;
    }
    return nullptr;
}

bool PulseOutput::ensureOpen() {
    if (!loop) return false;
    LoopLock lock(loop);
    if (link == Link::Ready || link == Link::Confirming) return true;
    // A play while down: at once, not at the next attempt's time.
    if (link == Link::Resting || link == Link::Waiting) startConnect();
    return false;
}

bool PulseOutput::resting() const {
    if (!loop) return true;
    LoopLock lock(loop);
    // Every stream is closed, its timers with it, once the link is down.
    return link == Link::Resting && watchAt == kNever;
}

bool PulseOutput::isOpen() const {
    if (!loop) return false;
    LoopLock lock(loop);
    return link == Link::Ready || link == Link::Confirming;
}

PulseOutput::Stream* PulseOutput::streamOf(const AudioSource* source) {
    for (Stream& stream : *streams)
        if (stream.source == source) return &stream;
    return nullptr;
}

void PulseOutput::addSource(AudioSource* source) {
    if (!loop) return;
    LoopLock lock(loop);
    Stream* stream = streamOf(nullptr);
    if (!verifyOrReport(stream != nullptr, errors,
                        "Sound output: room for " + std::to_string(kMaxSources) +
                            " decks only; one more stays silent"))
        return;
    stream->takeUp(source);
    if (link == Link::Ready || link == Link::Confirming) openStream(*stream);
}

void PulseOutput::removeSource(AudioSource* source) {
    if (!loop || !source) return;
    LoopLock lock(loop);
    if (Stream* stream = streamOf(source)) {
        closeStream(*stream);
        stream->takeUp(nullptr);
    }
}

void PulseOutput::follow(AudioSource& source) {
    if (!loop) return;
    LoopLock lock(loop);
    Stream* stream = streamOf(&source);
    if (!stream) return;
    apply(*stream);
    if (source.isPlaying()) {
        if (link == Link::Resting) moveTo(Link::Waiting);
        armWatch(kWatchPeriod);
    }
}

bool PulseOutput::anySourcePlaying() const {
    return std::any_of(streams->begin(), streams->end(), [](const Stream& stream) {
        return stream.source && stream.source->isPlaying();
    });
}

std::string PulseOutput::namesHeard() const {
    std::array<AudioSource*, kMaxSources> sources{};
    for (std::size_t i = 0; i < sources.size(); ++i)
        if ((*streams)[i].life == Stream::Life::Ready) sources[i] = (*streams)[i].source;
    return playingNames(sources);
}

std::vector<std::string> PulseOutput::labelsWaiting() const {
    std::vector<std::string> labels;
    for (const Stream& stream : *streams)
        if (stream.source && stream.life == Stream::Life::Awaiting && stream.source->isPlaying())
            labels.push_back(stream.label);
    return labels;
}

std::string PulseOutput::deviceFor(const std::string& label) const {
    if (!loop) return {};
    LoopLock lock(loop);
    return chosenFor(label);
}

std::vector<OutputDevice> PulseOutput::devices() const {
    if (!loop) return {};
    LoopLock lock(loop);
    return sinks.devices();
}

void PulseOutput::chooseDevice(const std::string& label, const std::string& device) {
    if (!loop) return;
    LoopLock lock(loop);
    const auto known = std::find_if(chosen.begin(), chosen.end(),
                                    [&](const auto& choice) { return choice.first == label; });
    if (known != chosen.end())
        known->second = device;
    else
        chosen.emplace_back(label, device);
    std::vector<std::string> devices;
    for (const auto& choice : chosen) devices.push_back(choice.second);
    sinks.choose(std::move(devices));
    for (Stream& stream : *streams) {
        if (!stream.source || stream.label != label) continue;
        if ((stream.pa || stream.life == Stream::Life::Awaiting) && stream.device == device)
            continue;
        // The server would not move a stream held to its device: it is made anew there.
        stream.sink.clear();
        stream.movedTo.clear();
        stream.awaitTold = false;
        if (stream.pa)
            renew(stream);
        else
            remakeStream(stream);
    }
}

std::string PulseOutput::chosenFor(const std::string& label) const {
    for (const auto& [who, device] : chosen)
        if (who == label) return device;
    return {};
}

void PulseOutput::armTimer(pa_time_event* event, std::chrono::milliseconds after) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    if (after.count() < 0) {
        api->time_restart(event, nullptr);
        return;
    }
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when),
                   static_cast<pa_usec_t>(std::chrono::microseconds(after).count()));
    api->time_restart(event, &when);
}

void PulseOutput::Stream::takeUp(AudioSource* newSource) {
    assert(!pa && life == Life::Closed && cut == Cut::None);
    source = newSource;
    label = newSource ? newSource->label() : std::string();
    start = Start::None;
    retryAfter = kRetrySoon;
    corked = true;
    sounding = false;
    epoch = 0;
    gain = 1.0f;
    title.clear();
    asks = 0;
    lastUnheard = 0;
    device.clear();
    awaitTold = false;
    rate = 0;
    sink.clear();
    movedTo.clear();
    staleEpoch.reset();
    kept.forget();
    fadeMargin = 0;
    fadeEnd = 0;
    fadeChecks = 0;
    timed = 0;
    graphStep.forget();
}
