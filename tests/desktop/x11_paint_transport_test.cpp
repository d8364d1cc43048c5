#include "desktop/x11_paint_transport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<std::string> variable() {
    const char* value = std::getenv("QT_XCB_NO_MITSHM");
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void setVariable(const std::optional<std::string>& value) {
    if (value)
        ::setenv("QT_XCB_NO_MITSHM", value->c_str(), 1);
    else
        ::unsetenv("QT_XCB_NO_MITSHM");
}

// Qt reads only whether the variable is set: what the user gave decides, and a 0 must not be
// left set, or it would mean the opposite of what it says.
TEST(X11PaintTransport, WithinTheRequestsUnlessTheUserAsksForSharedMemory) {
    struct Case {
        std::optional<std::string> given, left;
    } cases[] = {
        {std::nullopt, "1"},
        {"0", std::nullopt},
        {"1", "1"},
        {"yes", "yes"},
    };
    const std::optional<std::string> before = variable();
    for (const auto& c : cases) {
        setVariable(c.given);
        sendPaintsWithinRequests();
        EXPECT_EQ(variable(), c.left) << c.given.value_or("(unset)");
    }
    setVariable(before);
}

}  // namespace
