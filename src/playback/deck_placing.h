#pragma once

#include <string>

#include "playback/resume_point.h"
#include "shared/shared_state.h"

class Deck;

// UI thread only, as every deck call. Loads `path` into `deck` and puts it at `position`
// (seconds), paused there without a sound or playing on from there.
void placeDeck(Deck& deck, const std::string& path, double position, ResumeAs as);

// The transport word for a deck in that play state.
PlayerState stateWordOf(int playState);
