// Runs a test body as the runtime's main routine (so the thread is the event thread), with
// errors reported to the test instead of ending the process.
#pragma once

#include "support/bmp.h"
#include "support/xserver.h"

#include <host/application.h>
#include <host/windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace hosttest {

void RunAsMain(const std::function<void()>& body);

// Takes events and dispatches them until `done` or the time (ms) passes; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, int ms);

} // namespace hosttest
