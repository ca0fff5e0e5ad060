// The accessibility front: what the X11 driver tells a screen reader's bridge, and the event
// loop's wait with the bridge's descriptors in it. Calls are cheap no-ops when no
// accessibility bus was found at start-up; notes may come from any thread.
#pragma once

#include "notes.h"

#include <poll.h>

#include <string>

namespace host::a11y {

// On the event thread at start-up: decides whether to look for an accessibility bus at all
// (NO_AT_BRIDGE=1 or no session bus say no). The looking, and loading the bridge module when
// the bus is there, wait until a window is up and the event thread is quiet.
void Start(const std::string& programName);
// False once the bridge is known not to run; until then notes are kept for it.
bool Active();
// Hands a note to the bridge; it is applied on the event thread, in its next wait.
void Post(Note note);
// The event loop's wait: poll(2) on `fds`, with the bridge's own descriptors beside them when
// it runs on this thread; its ready work is done before this returns.
int Poll(pollfd* fds, int count, int timeoutMs);

} // namespace host::a11y
