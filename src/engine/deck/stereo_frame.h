#pragma once

// One instant of two-channel sound, as the decks and the output exchange it.
struct StereoFrame {
    float left = 0;
    float right = 0;
};
