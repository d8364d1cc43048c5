#include "engine/output/output_registration.h"

#include "engine/output/audio_output.h"

OutputRegistration::OutputRegistration(AudioOutput& output, AudioSource& source)
    : output(output), source(source) {
    output.addSource(&source);
}

OutputRegistration::~OutputRegistration() {
    output.removeSource(&source);
}
