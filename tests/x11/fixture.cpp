// Helpers shared by the runtime's GUI tests.
#include "fixture.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace hosttest {

void RunAsMain(const std::function<void()>& body) {
    const int code = host::Start(
        {.errorSys =
             [](const std::exception& e) { ADD_FAILURE() << "runtime error: " << e.what(); },
         .appSys = {},
         .appExit = {},
         .dbeSys = {},
         .main = body});
    EXPECT_EQ(code, 0);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
        host::Param mp1, mp2;
        std::shared_ptr<host::XbpPart> target;
        const int code = host::AppEvent(mp1, mp2, target, 1);
        if (code != host::event::NoEvent && target) {
            target->handleEvent(code, mp1, mp2);
        }
    }
    return done();
}

} // namespace hosttest
