#pragma once

#include <memory>

class AudioOutput;
class ErrorSink;

// The output the player plays through, chosen at start: the sound server's own streams when a
// server answers, else one SDL device (bare ALSA, or a server that comes later: SDL finds it
// when it reopens). VELMOR_AUDIO_OUTPUT=sdl chooses SDL whatever answers.
std::unique_ptr<AudioOutput> chooseAudioOutput(ErrorSink& errors);
