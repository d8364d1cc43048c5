#pragma once

// 1-based playlist positions that wrap around at both ends.
inline int nextPosition(int trackNumber, int trackCount) {
    return trackNumber >= trackCount ? 1 : trackNumber + 1;
}
inline int previousPosition(int trackNumber, int trackCount) {
    return trackNumber <= 1 ? trackCount : trackNumber - 1;
}
