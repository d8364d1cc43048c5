#pragma once

// What measuring a file's sound gives: its EBU R128 integrated loudness and its sample peak.
struct MeasuredLoudness {
    double integratedLufs = 0;  // -infinity for a file that is silent throughout
    double samplePeak = 0;      // linear, of full scale

    bool operator==(const MeasuredLoudness&) const = default;
};
