#include "engine/output/pulse/sink_catalogue.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace {
void forget(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
}
}  // namespace

void SinkCatalogue::start(pa_context* context) {
    stop();
    context_ = context;
    askedAt_ = std::chrono::steady_clock::now();
    pa_context_set_subscribe_callback(
        context,
        [](pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
            onEvent(c, static_cast<int>(type), index, self);
        },
        this);
    // The server's events say when its default sink changes.
    forget(pa_context_subscribe(context,
                                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                    PA_SUBSCRIPTION_MASK_SERVER),
                                nullptr, nullptr));
    // Answered in order: the server's name is known by the time the list is.
    forget(pa_context_get_server_info(context, &SinkCatalogue::onServerInfo, this));
    forget(pa_context_get_sink_info_list(context, &SinkCatalogue::onSinkList, this));
}

void SinkCatalogue::stop() {
    if (context_) pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    context_ = nullptr;
    listed_ = false;
    for (const Sink& sink : sinks) remembered.remember(sink.device);
    sinks.clear();
    defaultSink.clear();
}

void SinkCatalogue::onServerInfo(pa_context* context, const pa_server_info* info, void* self) {
    auto& catalogue = *static_cast<SinkCatalogue*>(self);
    if (context != catalogue.context_ || !info || !info->server_name) return;
    catalogue.pipeWire = std::string(info->server_name).find("PipeWire") != std::string::npos;
    catalogue.defaultSink = info->default_sink_name ? info->default_sink_name : "";
}

void SinkCatalogue::onSinkList(pa_context* context, const pa_sink_info* info, int eol, void* self) {
    auto& catalogue = *static_cast<SinkCatalogue*>(self);
    if (context != catalogue.context_) return;
    if (info) catalogue.take(*info);
    if (eol == 0 || catalogue.listed_) return;
    // An error ends the list as well: what came is all there is to go by.
    catalogue.listed_ = true;
    if (catalogue.events.listed) catalogue.events.listed();
}

void SinkCatalogue::onSinkInfo(pa_context* context, const pa_sink_info* info, int, void* self) {
    auto& catalogue = *static_cast<SinkCatalogue*>(self);
    if (context == catalogue.context_ && info) catalogue.take(*info);
}

void SinkCatalogue::onEvent(pa_context* context, int type, std::uint32_t index, void* self) {
    auto& catalogue = *static_cast<SinkCatalogue*>(self);
    if (context != catalogue.context_) return;
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
        forget(pa_context_get_server_info(context, &SinkCatalogue::onServerInfo, self));
        return;
    }
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK) return;
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
        const auto found =
            std::find_if(catalogue.sinks.begin(), catalogue.sinks.end(), [&](const Sink& sink) {
                return std::find(sink.indices.begin(), sink.indices.end(), index) !=
                       sink.indices.end();
            });
        if (found == catalogue.sinks.end()) return;
        std::erase(found->indices, index);
        if (!found->indices.empty()) return;  // gone once no sink of its name is left
        const std::string name = found->device.name;
        catalogue.remembered.remember(found->device);
        catalogue.sinks.erase(found);
        if (catalogue.events.gone) catalogue.events.gone(name);
        return;
    }
    forget(pa_context_get_sink_info_by_index(context, index, &SinkCatalogue::onSinkInfo, self));
}

void SinkCatalogue::take(const pa_sink_info& info) {
    if (!info.name) return;
    OutputDevice device{info.name, info.description ? info.description : info.name};
    remembered.forget(device.name);
    const auto present = std::find_if(sinks.begin(), sinks.end(), [&](const Sink& sink) {
        return sink.device.name == device.name;
    });
    const int rate = static_cast<int>(info.sample_spec.rate);
    if (present != sinks.end()) {
        const bool anew = std::find(present->indices.begin(), present->indices.end(), info.index) ==
                          present->indices.end();
        if (anew) present->indices.push_back(info.index);
        present->device = std::move(device);
        const bool rateChanged = !anew && present->rate != rate;
        present->rate = rate;
        if (rateChanged && listed_ && events.rateChanged) events.rateChanged(present->device.name);
        // A stream on the old one fails with it: the new one is where it is made again.
        if (anew && listed_ && events.appeared) events.appeared(present->device.name);
        return;
    }
    sinks.push_back({{info.index}, device, rate});
    if (listed_ && events.appeared) events.appeared(device.name);
}

bool SinkCatalogue::has(const std::string& name) const {
    return std::any_of(sinks.begin(), sinks.end(),
                       [&](const Sink& sink) { return sink.device.name == name; });
}

std::string SinkCatalogue::describe(const std::string& name) const {
    for (const Sink& sink : sinks)
        if (sink.device.name == name) return sink.device.description;
    const std::string* kept = remembered.describe(name);
    return kept ? *kept : name;
}

int SinkCatalogue::rateOf(const std::string& name) const {
    const std::string& wanted = name.empty() ? defaultSink : name;
    for (const Sink& sink : sinks)
        if (sink.device.name == wanted) return sink.rate;
    return 0;
}

std::vector<OutputDevice> SinkCatalogue::devices() const {
    std::vector<OutputDevice> list;
    for (const Sink& sink : sinks) list.push_back(sink.device);
    return list;
}
