// One question to a D-Bus message bus, asked over a plain socket: does a name have an owner?
// Costs no library load, which matters at start-up where the answer is mostly "no bus".
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace host::a11y {

// Asks the bus at `address` (a D-Bus address such as "unix:path=/run/user/1000/bus") whether
// `name` has an owner. Nothing when the address names no Unix socket this can speak to;
// false when the bus cannot be reached, refuses us or does not answer within `timeout`.
std::optional<bool> NameHasOwner(const std::string& address, const std::string& name,
                                 std::chrono::milliseconds timeout);

} // namespace host::a11y
