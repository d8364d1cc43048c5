#include "desktop/x11_paint_transport.h"

#include <cstdlib>
#include <cstring>

void sendPaintsWithinRequests() {
    const char* chosen = std::getenv("QT_XCB_NO_MITSHM");
    if (!chosen)
        ::setenv("QT_XCB_NO_MITSHM", "1", 1);
    else if (std::strcmp(chosen, "0") == 0)
        ::unsetenv("QT_XCB_NO_MITSHM");
}
