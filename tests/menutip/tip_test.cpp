// The tip worker on the X server: when and where the tip appears, what it looks like, when it
// goes, and the life of the worker object and its class.
#include "menutip/tip_x.h"
#include "support/proc_counts.h"

#include <host/error.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using menutip_inspect::Inspect;
using menutip_inspect::Stage;
using tiptest::TipFixture;

namespace {

std::atomic<int> paintedTips{0};
void countPainted(Stage stage) {
    if (stage == Stage::TipPainted) {
        ++paintedTips;
    }
}

bool waitTip(const testx::XServer& x, std::chrono::milliseconds limit = 2s) {
    return testx::XServer::waitFor([&] { return tiptest::tipWindow(x).has_value(); }, limit);
}
bool waitNoTip(const testx::XServer& x, std::chrono::milliseconds limit = 2s) {
    return testx::XServer::waitFor([&] { return !tiptest::tipWindow(x).has_value(); }, limit);
}

using TipShown = TipFixture;

TEST_F(TipShown, AppearsAfterFivePausesBelowThePointerInItsColours) {
    const std::string text = "Reserve a table for the evening";
    x.movePointer(700, 400);
    const auto expected = tiptest::expectedTip(x, text, 700, 400);
    const auto t0 = std::chrono::steady_clock::now();
    ShowMenuTip_(text);
    ASSERT_TRUE(waitTip(x));
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, 450ms);
    EXPECT_TRUE(Inspect().lShow);

    const Window tip = *tiptest::tipWindow(x);
    const auto g = x.geometry(tip);
    EXPECT_EQ(g.x, expected.x);
    EXPECT_EQ(g.y, expected.y);
    EXPECT_EQ(g.width, expected.width);
    EXPECT_EQ(g.height, expected.height);
    EXPECT_EQ(g.y, 400 + 40 - g.height + 1); // 40 below the pointer, counted from the bottom

    // Pale yellow at the edge, the red frame one pixel inside it on all four sides. The
    // window is mapped first and painted right after: wait for the frame before looking.
    const int midX = g.x + g.width / 2;
    const int midY = g.y + g.height / 2;
    ASSERT_TRUE(testx::XServer::waitFor(
        [&] { return testx::near(x.pixel(g.x + 1, midY), 255, 0, 0); }, 1s));
    for (const auto& [ex, ey, fx, fy] :
         std::vector<std::array<int, 4>>{{g.x, midY, g.x + 1, midY},
                                         {g.x + g.width - 1, midY, g.x + g.width - 2, midY},
                                         {midX, g.y, midX, g.y + 1},
                                         {midX, g.y + g.height - 1, midX, g.y + g.height - 2}}) {
        EXPECT_TRUE(testx::near(x.pixel(ex, ey), 255, 255, 180)) << str(x.pixel(ex, ey));
        EXPECT_TRUE(testx::near(x.pixel(fx, fy), 255, 0, 0)) << str(x.pixel(fx, fy));
    }
    // The frame is whole along the left column.
    for (int y = g.y + 1; y <= g.y + g.height - 2; ++y) {
        EXPECT_TRUE(testx::near(x.pixel(g.x + 1, y), 255, 0, 0)) << y;
    }
    // Some dark indigo text inside, and nothing else than background, frame and text shades.
    int indigo = 0;
    for (int y = g.y + 2; y <= g.y + g.height - 3; ++y) {
        for (int px = g.x + 2; px <= g.x + g.width - 3; ++px) {
            indigo += testx::near(x.pixel(px, y), 40, 25, 115, 12) ? 1 : 0;
        }
    }
    EXPECT_GT(indigo, 20);
}

TEST_F(TipShown, StaysWithinEightPixelsAndGoesAtNine) {
    x.movePointer(600, 500);
    ShowMenuTip_("Update something");
    ASSERT_TRUE(waitTip(x));
    const Window tip = *tiptest::tipWindow(x);
    for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{
             {8, 0}, {-8, 0}, {0, 8}, {0, -8}, {8, 8}, {-8, -8}, {8, -8}, {-8, 8}, {0, 0}}) {
        x.movePointer(600 + dx, 500 + dy);
        std::this_thread::sleep_for(40ms); // several polls
        EXPECT_EQ(tiptest::tipWindow(x), tip) << dx << "," << dy;
        EXPECT_TRUE(Inspect().lShow);
    }
    x.movePointer(609, 500);
    EXPECT_TRUE(waitNoTip(x, 1s));
    EXPECT_TRUE(testx::XServer::waitFor([] { return !Inspect().threadActive; }, 1s));
    EXPECT_FALSE(Inspect().lShow);
}

TEST_F(TipShown, NineDiagonallyOrDownwardsAlsoTakesItDown) {
    for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{{0, 9}, {-9, -9}}) {
        x.movePointer(600, 500);
        ShowMenuTip_("Any other thing");
        ASSERT_TRUE(waitTip(x));
        x.movePointer(600 + dx, 500 + dy);
        EXPECT_TRUE(waitNoTip(x, 1s)) << dx << "," << dy;
        EXPECT_TRUE(testx::XServer::waitFor([] { return !Inspect().lShow; }, 1s));
    }
}

TEST_F(TipShown, HideDuringThePausesMeansNoWindowAtAll) {
    paintedTips = 0;
    menutip_inspect::SetProbe(countPainted);
    // The worker's first pause opens its connection, on which cairo keeps a 1x1 window of its
    // own while the connection lives: count the root's children after that.
    ShowMenuTip_("Other option");
    std::this_thread::sleep_for(300ms);
    HideMenuTip_();
    const int before = tiptest::rootChildren(x);
    for (const auto pause : {0ms, 120ms, 380ms}) {
        ShowMenuTip_("Other option");
        std::this_thread::sleep_for(pause);
        HideMenuTip_();
        // hide waited for the run: it is over, and lShow is clear.
        EXPECT_FALSE(Inspect().threadActive);
        EXPECT_FALSE(Inspect().lShow);
    }
    std::this_thread::sleep_for(700ms); // longer than the five pauses
    EXPECT_FALSE(tiptest::tipWindow(x).has_value());
    EXPECT_EQ(tiptest::rootChildren(x), before);
    EXPECT_EQ(paintedTips, 0);
    menutip_inspect::SetProbe(nullptr);
}

TEST_F(TipShown, HideWithATipShowingReturnsWithTheWindowGone) {
    ShowMenuTip_("Reserve");
    ASSERT_TRUE(waitTip(x));
    HideMenuTip_();
    EXPECT_FALSE(tiptest::tipWindow(x).has_value());
    EXPECT_FALSE(Inspect().threadActive);
    EXPECT_FALSE(Inspect().lShow);
}

TEST_F(TipShown, ASecondTipRestartsTheCountFromTheFirstPass) {
    const std::string a = "A";
    const std::string b = "B is a much longer tip than A";
    ShowMenuTip_(a);
    std::this_thread::sleep_for(300ms);
    const auto expected = tiptest::expectedTip(x, b, 700, 400);
    const auto t0 = std::chrono::steady_clock::now();
    ShowMenuTip_(b);
    ASSERT_TRUE(waitTip(x));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 450ms);
    EXPECT_EQ(x.geometry(*tiptest::tipWindow(x)).width, expected.width);
    EXPECT_EQ(tiptest::tipWindows(x).size(), 1u);
    EXPECT_EQ(Inspect().runs, 2);

    // B showing, then C: B goes at once, C comes after its own pauses.
    ShowMenuTip_("C");
    EXPECT_FALSE(tiptest::tipWindow(x).has_value());
    ASSERT_TRUE(waitTip(x));
    EXPECT_EQ(x.geometry(*tiptest::tipWindow(x)).width, tiptest::expectedTip(x, "C", 0, 0).width);
}

TEST_F(TipShown, AShowAfterTheTipWentByItselfShowsTheNewTip) {
    ShowMenuTip_("first");
    ASSERT_TRUE(waitTip(x));
    x.movePointer(760, 400);
    ASSERT_TRUE(waitNoTip(x, 1s));
    ASSERT_TRUE(testx::XServer::waitFor([] { return !Inspect().threadActive; }, 1s));
    const auto expected = tiptest::expectedTip(x, "second, wider tip", 760, 400);
    ShowMenuTip_("second, wider tip");
    ASSERT_TRUE(waitTip(x));
    const auto g = x.geometry(*tiptest::tipWindow(x));
    EXPECT_EQ(g.x, expected.x);
    EXPECT_EQ(g.width, expected.width);
    EXPECT_TRUE(Inspect().lShow);
}

// At the right edge of the first monitor (of the screen, on one monitor): the tip stays on it.
TEST_F(TipShown, NearTheRightAndBottomEdgesTheTipIsPlacedAsComputed) {
    const int h = x.screenHeight();
    const int w = host::MonitorAt({0, h - 1}).x2 + 1;
    x.movePointer(w - 5, h - 10); // host y = 9: 40 below is -31, raised to -23
    const auto expected = tiptest::expectedTip(x, "Near the corner", w - 5, h - 10);
    ShowMenuTip_("Near the corner");
    ASSERT_TRUE(waitTip(x));
    const auto g = x.geometry(*tiptest::tipWindow(x));
    EXPECT_EQ(g.x, w - expected.width);
    EXPECT_EQ(g.x, expected.x);
    EXPECT_EQ(g.y, expected.y);
}

using TipWorker = TipFixture;

TEST_F(TipWorker, NilOrEmptyMakesTheWorkerButStartsNoThread) {
    tiptest::expectedTip(x, "warm", 0, 0); // fonts loaded: library helper threads are up
    proc::baselineThreadCount();
    const std::set<int> before = proc::threadIds();
    ShowMenuTip_(host::Nil);
    const auto first = Inspect();
    ASSERT_NE(first.worker, nullptr);
    EXPECT_EQ(first.runs, 0);
    EXPECT_FALSE(first.lShow);
    ShowMenuTip_("");
    EXPECT_EQ(Inspect().worker, first.worker);
    EXPECT_EQ(Inspect().runs, 0);
    // No thread started: every thread now was there before (a library's idle helper thread
    // may end meanwhile, so the count alone could drop).
    const std::set<int> after = proc::threadIds();
    EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
        << proc::threadNames();
    // The worker's colours and drawing objects are set up by init.
    EXPECT_NE(first.worker->drawTip(), nullptr);
    EXPECT_EQ(first.worker->tipBitmap()->presSpace(), first.worker->drawTip());
}

TEST_F(TipWorker, HideBeforeAnyShowMakesNothing) {
    HideMenuTip_();
    EXPECT_EQ(Inspect().worker, nullptr);
}

TEST_F(TipWorker, TheClassIsRegisteredOnceWithItsDefinition) {
    const auto cls = ZebMenuTip_::classFunction();
    EXPECT_EQ(ZebMenuTip_::classFunction(), cls);
    EXPECT_EQ(host::ClassRegistry::lock().find("ZebMenuTip_"), cls);
    ASSERT_EQ(cls->bases().size(), 1u);
    EXPECT_EQ(cls->bases()[0], host::Thread::classFunction());
    using host::Exposure;
    using host::MethodKind;
    EXPECT_EQ(cls->vars(), (std::vector<host::VarInfo>{{"nColorBg", Exposure::Protected},
                                                       {"nColorBox", Exposure::Protected},
                                                       {"nColorTip", Exposure::Protected},
                                                       {"lShow", Exposure::Protected},
                                                       {"oDrawTip", Exposure::ExportedReadOnly},
                                                       {"oTip", Exposure::ExportedReadOnly}}));
    EXPECT_EQ(cls->methods(), (std::vector<host::MethodInfo>{
                                  {"execute", Exposure::Protected, MethodKind::Instance},
                                  {"init", Exposure::Protected, MethodKind::Instance},
                                  {"destroy", Exposure::Exported, MethodKind::Instance},
                                  {"show", Exposure::Exported, MethodKind::Instance},
                                  {"hide", Exposure::Exported, MethodKind::Instance},
                                  {"quitThread", Exposure::Exported, MethodKind::Class},
                                  {"initClass", Exposure::Exported, MethodKind::Class}}));
}

TEST_F(TipWorker, AfterDestroyTheNextShowMakesANewWorkerOfTheSameClass) {
    ShowMenuTip_("one");
    ASSERT_TRUE(waitTip(x));
    const auto first = Inspect().worker;
    HideMenuTip_();
    const int firstThread = tiptest::osThreadOf(*first);
    ShowMenuTip_("one again");
    ASSERT_TRUE(waitTip(x));

    first->destroy();
    EXPECT_EQ(Inspect().worker, nullptr);
    EXPECT_FALSE(tiptest::tipWindow(x).has_value());
    // quitThread ran on the worker thread and ended it.
    EXPECT_TRUE(
        testx::XServer::waitFor([&] { return proc::threadIds().count(firstThread) == 0; }, 2s));

    ShowMenuTip_("two");
    const auto second = Inspect().worker;
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->classObject(), ZebMenuTip_::classFunction());
    EXPECT_TRUE(waitTip(x));
}

} // namespace

// An error in a tip's run reaches the program's error system as one on the start thread does,
// and only once the tip's window is off the server. The error system here looks at the server
// itself: exit code 1 when no tip window is left, 3 when one still is.
namespace {
void failOnceShown(Stage stage) {
    if (stage == Stage::TipPainted) {
        throw host::Error("tip test", "failed after painting");
    }
}
} // namespace

TEST(TipRunError, ReachesTheErrorSystemWithTheTipWindowGone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            host::Start({.errorSys =
                             [](const std::exception& e) {
                                 std::fprintf(stderr, "error system: %s\n", e.what());
                                 const testx::XServer x;
                                 std::_Exit(tiptest::tipWindows(x).empty() ? 1 : 3);
                             },
                         .appSys = {},
                         .appExit = {},
                         .dbeSys = {},
                         .main =
                             [] {
                                 menutip_inspect::SetProbe(failOnceShown);
                                 ShowMenuTip_("Reserve");
                                 std::this_thread::sleep_for(5s); // the error ends the process
                             }});
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), "error system: tip test.*failed after painting");
}
