#pragma once

class AudioOutput;
class AudioSource;

// A source registered with the output for as long as this lives; once it is gone, no callback
// uses the source any more.
class OutputRegistration {
public:
    OutputRegistration(AudioOutput& output, AudioSource& source);
    ~OutputRegistration();
    OutputRegistration(const OutputRegistration&) = delete;
    OutputRegistration& operator=(const OutputRegistration&) = delete;

private:
    AudioOutput& output;
    AudioSource& source;
};
