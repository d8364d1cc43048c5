#pragma once

#include <cmath>

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
inline double roundHalfEven(double x) {
    return std::nearbyint(x);
}
