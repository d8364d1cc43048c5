#pragma once

// Before the application object: the window's paints reach the X server within the requests
// rather than through shared memory. Through shared memory, each paint over the pixels of the
// last one first waits for the server to have read them: a round trip, and a wakeup, for every
// paint of the running clock. A clock's few kilobytes cost less sent along. Qt takes any value
// of QT_XCB_NO_MITSHM as "none"; a user's QT_XCB_NO_MITSHM=0 asks for shared memory back.
void sendPaintsWithinRequests();
