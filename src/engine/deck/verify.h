#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "components/error_sink.h"

// What must hold, where a release build must neither die nor pass over it in silence: with
// assertions on (tests, sanitizers, fuzzing) a failure stops the program at once, naming it;
// in a release build it goes to `errors` and the caller goes on as it can. True when it holds.
inline bool verifyOrReport(bool holds, ErrorSink& errors, const std::string& what) {
    if (holds) return true;
#ifndef NDEBUG
    std::fprintf(stderr, "check failed: %s\n", what.c_str());
    std::abort();
#endif
    errors.report(what);
    return false;
}
