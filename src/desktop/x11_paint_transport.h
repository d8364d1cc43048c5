#pragma once

// Before the application object: the window's paints reach the X server within the requests
// rather than through shared memory, unless the user chose otherwise. Through shared memory,
// each paint over the pixels of the last one first waits for the server to have read them: a
// round trip, and a wakeup, for every paint of the running clock. A clock's few kilobytes
// cost less sent along.
void sendPaintsWithinRequests();
