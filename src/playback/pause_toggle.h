#pragma once

class Deck;
struct SharedState;

// "II" of either deck: pauses `deck` while the player says "Playing", resumes it while it
// says "Paused", and does nothing otherwise. Both decks share the one transport word.
void pauseOrResume(SharedState& state, Deck& deck);
