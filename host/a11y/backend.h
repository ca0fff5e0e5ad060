// The contract between the accessibility front (in the driver) and the bridge module, which is
// loaded with dlopen only when an accessibility bus is there. Both sides are built together.
#pragma once

#include "notes.h"

#include <poll.h>

namespace host::a11y {

// The accessible tree and its bridge. Every call comes on the event thread.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual void apply(Note note) = 0;
    // poll(2) on `fds` together with the bridge's descriptors, then the bridge's ready work;
    // returns poll's count for `fds` alone.
    virtual int poll(pollfd* fds, int count, int timeoutMs) = 0;
};

// The module's one entry point: nullptr when no accessibility bus answers or the bridge
// cannot start. `busAddressGiven`: AT_SPI_BUS_ADDRESS names the bus, no need to ask.
using OpenBackend = Backend* (*)(const char* programName, bool busAddressGiven);
inline constexpr const char* kModuleFile = "libmenutip-a11y.so";
inline constexpr const char* kOpenSymbol = "menutip_a11y_open";

} // namespace host::a11y
