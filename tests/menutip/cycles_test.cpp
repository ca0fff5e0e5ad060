// A thousand show/hide cycles with random texts and delays leave no tip window, thread or X
// connection behind.
#include "menutip/tip_x.h"
#include "support/proc_counts.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using menutip_inspect::Inspect;

namespace {

using TipCycles = tiptest::TipFixture;
constexpr int kCycles = 1000;

TEST_F(TipCycles, AThousandShowHideCyclesLeaveNothingBehind) {
    std::mt19937 rng(20240611); // fixed seed: a failure can be replayed
    std::uniform_int_distribution<int> delay(0, 30);
    std::uniform_int_distribution<int> length(1, 40);
    std::uniform_int_distribution<int> letter(32, 126);
    std::uniform_int_distribution<int> oneIn(0, 99);
    const auto randomText = [&] {
        std::string s(static_cast<std::size_t>(length(rng)), ' ');
        for (char& c : s) {
            c = static_cast<char>(letter(rng));
        }
        return s;
    };

    // Warm up: the worker, its thread and both X connections (this thread's and the worker's).
    ShowMenuTip_("warm up");
    ASSERT_TRUE(testx::XServer::waitFor([&] { return tiptest::tipWindow(x).has_value(); }, 2s));
    HideMenuTip_();
    const int windows = tiptest::rootChildren(x);
    const int worker = tiptest::osThreadOf(*Inspect().worker);
    const auto threads = proc::threadIds();
    ASSERT_EQ(threads.count(worker), 1u);
    const int sockets = proc::socketCount();

    int shown = 0;
    for (int i = 0; i < kCycles; ++i) {
        x.movePointer(400 + i % 200, 300 + i % 100);
        ShowMenuTip_(randomText());
        const int roll = oneIn(rng);
        if (roll < 3) {
            // Now and then let the tip appear, and sometimes let it go by itself.
            if (testx::XServer::waitFor([&] { return tiptest::tipWindow(x).has_value(); }, 2s)) {
                ++shown;
            }
            if (roll == 0) {
                x.movePointer(10, 10);
                testx::XServer::waitFor([] { return !Inspect().threadActive; }, 1s);
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay(rng)));
        }
        if (oneIn(rng) < 50) {
            HideMenuTip_();
        } else {
            ShowMenuTip_(oneIn(rng) < 50 ? host::Text(host::Nil) : host::Text(""));
        }
        ASSERT_FALSE(Inspect().lShow) << "cycle " << i;
        ASSERT_FALSE(Inspect().threadActive) << "cycle " << i;
    }
    EXPECT_GT(shown, 10); // about 3 in 100 cycles
    EXPECT_EQ(Inspect().runs, kCycles + 2);
    EXPECT_TRUE(tiptest::tipWindows(x).empty());
    EXPECT_EQ(tiptest::rootChildren(x), windows);
    // No thread was added; the worker's thread served every cycle.
    const auto now = proc::threadIds();
    EXPECT_TRUE(std::includes(threads.begin(), threads.end(), now.begin(), now.end()))
        << proc::threadNames();
    EXPECT_EQ(now.count(worker), 1u);
    EXPECT_EQ(proc::socketCount(), sockets);

    // Ending the worker ends its thread and closes its connection.
    Inspect().worker->destroy();
    EXPECT_TRUE(testx::XServer::waitFor([&] { return proc::threadIds().count(worker) == 0; }, 2s));
    EXPECT_TRUE(testx::XServer::waitFor([&] { return proc::socketCount() == sockets - 1; }, 2s));
}

} // namespace
