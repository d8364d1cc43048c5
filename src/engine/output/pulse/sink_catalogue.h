#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/deck.h"
#include "engine/output/pulse/remembered_sinks.h"

struct pa_context;
struct pa_server_info;
struct pa_sink_info;

// The sound server's outputs (sinks) as they come and go, and whether the server is
// PipeWire's. Every call, and every event, runs with libpulse's main loop lock held.
class SinkCatalogue {
public:
    struct Events {
        std::function<void()> listed;  // the first whole list is in
        std::function<void(const std::string& name)> appeared;
        std::function<void(const std::string& name)> gone;
        // A sink present runs at another rate than before (PipeWire's graph follows its
        // clients' rates, or a forced one).
        std::function<void(const std::string& name)> rateChanged;
    };
    explicit SinkCatalogue(Events events) : events(std::move(events)) {}

    // Follows the sinks of a context that has just become ready.
    void start(pa_context* context);
    // The context is gone: nothing is known until the next start.
    void stop();

    bool listed() const { return listed_; }
    // Asked, and not answered yet, since `askedAt()`.
    bool waiting() const { return context_ && !listed_; }
    std::chrono::steady_clock::time_point askedAt() const { return askedAt_; }
    bool has(const std::string& name) const;
    // The description last seen for a sink present, chosen, or gone lately; else its name.
    std::string describe(const std::string& name) const;
    // The sinks the decks chose: their descriptions are kept while they are gone.
    void choose(std::vector<std::string> names) { remembered.choose(std::move(names)); }
    std::vector<OutputDevice> devices() const;
    // The rate a sink runs at; 0 when it is not known. "" asks for the server's default sink.
    int rateOf(const std::string& name) const;
    bool isDefault(const std::string& name) const { return name == defaultSink; }
    // PipeWire remembers a stream's routing by the first of its role, application and name,
    // not by PulseAudio's restore id.
    bool onPipeWire() const { return pipeWire; }

private:
    // Followed by name: a sink made anew under a name (the server reconfigured a device) may
    // come before the old one's removal, and the name stays there as long as one of them does.
    struct Sink {
        std::vector<std::uint32_t> indices;  // the server's sinks of the name
        OutputDevice device;
        int rate;
    };

    void take(const pa_sink_info& info);

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* self);
    static void onSinkList(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void onEvent(pa_context* context, int type, std::uint32_t index, void* self);

    const Events events;
    pa_context* context_ = nullptr;
    bool listed_ = false;
    bool pipeWire = false;
    std::string defaultSink;  // as the server last said
    std::chrono::steady_clock::time_point askedAt_;
    std::vector<Sink> sinks;
    RememberedSinks remembered;  // for the name of one that is gone
};
