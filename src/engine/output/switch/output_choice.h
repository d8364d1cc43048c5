#pragma once

#include <memory>

class AudioOutput;
class ErrorSink;

// The output the player plays through, made at once without waiting for a sound server: the
// server's own streams once one answers, else one SDL device until one does (SwitchingOutput).
// VELMOR_AUDIO_OUTPUT=sdl chooses SDL whatever answers. Neither opens a device on the caller's
// thread.
std::unique_ptr<AudioOutput> chooseAudioOutput(ErrorSink& errors);
