// The contract between the accessibility front (in the driver) and the bridge module, which is
// loaded with dlopen only when an accessibility bus is there. Both sides are built together.
#pragma once

#include "notes.h"

#include <poll.h>

namespace host::a11y {

// The accessible tree and its bridge. Made on the start-up thread; every call comes on the
// event thread, adopt first.
class Backend {
  public:
    virtual ~Backend() = default;
    // Makes the calling thread the owner of GLib's default context; false when another is.
    virtual bool adopt() = 0;
    virtual void apply(Note note) = 0;
    // poll(2) on `fds` together with the bridge's descriptors, then the bridge's ready work;
    // returns poll's count for `fds` alone.
    virtual int poll(pollfd* fds, int count, int timeoutMs) = 0;
};

// The module's one entry point, called once an accessibility bus is known to be there: the
// tree, connected to the bus; nullptr when the bridge cannot start.
using OpenBackend = Backend* (*)(const char* programName);
inline constexpr const char* kModuleFile = "libmenutip-a11y.so";
inline constexpr const char* kOpenSymbol = "menutip_a11y_open";

} // namespace host::a11y
