#pragma once

#include <string_view>

// Keeps off standard error the lines that libraries print by themselves, whatever they were
// told (libmpg123 prints some even when asked to be quiet): the player reports each cause
// once, in its own words. Everything else passes through at once, as before.
class StderrFilter {
public:
    // Puts the filter in front of the C library's stderr stream. Call once, early in main,
    // before other threads write.
    static void install();
    // True for a line (without its line end) that a library prints of its own accord.
    static bool isLibraryChatter(std::string_view line);
};
