#pragma once

#include <chrono>

// How long the window's thread waits, by design, for a disk to answer: what answers within it
// comes with the click, as if at once; a disk that does not answer holds the window this long,
// once, and is then left to a thread of its own. The window's next tick comes that much later.

// A file's open, from when it was named (a local file opens well within it).
inline constexpr std::chrono::milliseconds kOpenPatience{200};
// A path looked at and its folder listed, while a big local folder's listing goes on.
inline constexpr std::chrono::milliseconds kLookupPatience{250};
// One handler may look at a folder and then open a file from it.
inline constexpr std::chrono::milliseconds kLongestWindowWait = kLookupPatience + kOpenPatience;
