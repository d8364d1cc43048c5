#include "desktop/x11_paint_transport.h"

#include <cstdlib>

void sendPaintsWithinRequests() {
    ::setenv("QT_XCB_NO_MITSHM", "1", 0);  // 0: a value the user set stands
}
