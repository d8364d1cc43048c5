#include "shared/shared_state.h"

std::string deckPathOf(const SharedState& state, const std::string& entry) {
    if (entry.empty() || entry.find('/') != std::string::npos) return entry;
    return state.PlaylistDir + entry;
}
