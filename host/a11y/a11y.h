// The accessibility front: what the X11 driver tells a screen reader's bridge, and the event
// loop's wait with the bridge's descriptors in it. Calls are cheap no-ops when no
// accessibility bus was found at start-up; notes may come from any thread.
#pragma once

#include "notes.h"

#include <poll.h>

#include <string>

namespace host::a11y {

// On the event thread at start-up: looks for an accessibility bus (NO_AT_BRIDGE=1 says no)
// and, only when there is one, loads the bridge module and connects it.
void Start(const std::string& programName);
// True once the bridge runs; notes are dropped while it is false.
bool Active();
// Hands a note to the bridge; it is applied on the event thread, in its next wait.
void Post(Note note);
// The event loop's wait: poll(2) on `fds`, with the bridge's own descriptors beside them when
// it runs on this thread; its ready work is done before this returns.
int Poll(pollfd* fds, int count, int timeoutMs);

} // namespace host::a11y
