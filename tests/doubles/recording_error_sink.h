#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "components/error_sink.h"

class RecordingErrorSink : public ErrorSink {
public:
    void report(std::string_view cause) override {
        std::lock_guard lock(mutex);
        lines.emplace_back(cause);
    }
    std::vector<std::string> taken() {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return lines.size();
    }

private:
    std::mutex mutex;
    std::vector<std::string> lines;
};
