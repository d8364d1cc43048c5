#pragma once

#include <string_view>

// Where a component (or a handler) reports a failure it could not hide from the user.
// Implementations must accept reports from any thread.
class ErrorSink {
public:
    virtual ~ErrorSink() = default;
    virtual void report(std::string_view cause) = 0;
};
