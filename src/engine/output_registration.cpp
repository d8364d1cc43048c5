#include "engine/output_registration.h"

#include "engine/audio_output.h"

OutputRegistration::OutputRegistration(AudioOutput& output, AudioSource& source)
    : output(output), source(source) {
    output.addSource(&source);
}

OutputRegistration::~OutputRegistration() {
    output.removeSource(&source);
}
