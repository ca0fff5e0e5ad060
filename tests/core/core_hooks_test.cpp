// The core's shared half over a scripted driver: what the core decides before and around the
// driver's hooks (reading the pointer where the window system gives no motion, entries the
// platform refuses, the box's buttons), which no real driver lets a test steer.
#include "common/driver.h"

#include <host/error.h>
#include <host/threads.h>
#include <host/windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace host::detail {

// Window, space and bitmap states that do nothing: the tests here make dialogs only to hang
// menus from them, and never create them.
struct WindowImpl final : WindowState {
    void showWindow() override {}
    void hideWindow() override {}
    void destroyWindow() override {}
    void moved(Point, Size) override {}
    void resized(Point, Size) override {}
    void backgroundChanged() override {}
    void aimAtWindow(PresSpaceState&) override {}
    void fitLockedSpace(PresSpaceState&) override {}
    void repaint() override {}
    void createDialogWindow(const DialogState&) override {}
    void createAreaWindow(WindowState&) override {}
    void forgetWindow() override {}
    void layOut(const DialogState&) override {}
    void titleChanged(const std::string&) override {}
    void paintArea() override {}
};

struct PresSpaceImpl final : PresSpaceState {
    void unlocked() override {}
    void boundTo(BitmapState*) override {}
    Size size() const override { return {}; }
    bool beginDrawing() override { return false; }
    bool endDrawing() override { return false; }
    bool drawGradient(Point, Point, const std::vector<Color>&) override { return false; }
    bool drawBox(Rect, int) override { return false; }
    bool drawText(Point, const std::string&) override { return false; }
    bool drawBitmap(BitmapState&, Point) override { return false; }
    bool copyFrom(PresSpaceState&, Rect, Point) override { return false; }
};

struct BitmapImpl final : BitmapState {
    Size size() const override { return {}; }
    bool holdsPixels() const override { return false; }
    void make(int, int) override {}
    Pixels readPixels() const override { return {}; }
};

// A menu whose platform side refuses entries while `refuse` is set.
struct MenuImpl final : MenuState {
    bool refuse = false;
    int added = 0;
    void attachTo(XbpMenuBar&, WindowState&) override {}
    void detach() override {}
    void itemAdded(XbpPart&) override {
        if (refuse) {
            throw Error("XbpMenu:addItem", "too many menu entries in this process");
        }
        ++added;
    }
};

} // namespace host::detail

namespace {

using host::Point;

// A driver whose pointer and motion wait follow a script.
class ScriptedDriver final : public host::detail::Driver {
  public:
    std::unique_ptr<host::detail::WindowState> newWindowState() override {
        return std::make_unique<host::detail::WindowImpl>();
    }
    std::unique_ptr<host::detail::PresSpaceState> newPresSpaceState() override {
        return std::make_unique<host::detail::PresSpaceImpl>();
    }
    std::unique_ptr<host::detail::BitmapState> newBitmapState() override {
        return std::make_unique<host::detail::BitmapImpl>();
    }
    std::unique_ptr<host::detail::MenuState> newMenuState() override {
        return std::make_unique<host::detail::MenuImpl>();
    }
    std::optional<host::detail::HostEvent> takeEvent() override { return std::nullopt; }
    void waitForEvents(std::optional<std::chrono::milliseconds>) override {}
    void wake() override {}
    host::Size desktopSize() override { return {1920, 1080}; }
    void aimAtDesktop(host::detail::PresSpaceState&) override {}
    void setInputFocus(const std::shared_ptr<host::XbpWindow>&) override {}
    void centreTopLevel(const std::shared_ptr<host::XbpWindow>&) override {}
    Point pointerPos() override { return {}; }
    host::Rect monitorAt(Point) override { return {}; }
    host::Font defaultFont() override { return {"Sans 10"}; }
    TextExtent measureText(const host::Font&, const std::string&) override { return {}; }

    std::optional<bool> awaitPointerMove(Point, std::chrono::steady_clock::time_point) override {
        ++waits;
        return motion;
    }
    // The next scripted reading; once the script is used up, the last one again.
    std::optional<Point> readPointer() override {
        std::lock_guard lock(mutex);
        ++reads;
        if (readings.size() > 1) {
            auto next = readings.front();
            readings.pop_front();
            return next;
        }
        return readings.empty() ? std::nullopt : readings.front();
    }
    std::string pointerWaitMethod() override { return "scripted"; }
    int confirmBox(const std::shared_ptr<host::XbpWindow>&, const std::string&, const std::string&,
                   int) override {
        ++boxes;
        return host::box::RetOk;
    }

    void script(std::optional<bool> wait, std::deque<std::optional<Point>> points) {
        std::lock_guard lock(mutex);
        motion = wait;
        readings = std::move(points);
        waits = reads = boxes = 0;
    }

    std::mutex mutex;
    std::optional<bool> motion;
    std::deque<std::optional<Point>> readings;
    std::atomic<int> waits{0};
    std::atomic<int> reads{0};
    std::atomic<int> boxes{0};
};

ScriptedDriver* gDriver = nullptr;

ScriptedDriver& driver() {
    host::detail::TheDriver(); // made on first use
    return *gDriver;
}

} // namespace

std::unique_ptr<host::detail::Driver> host::detail::MakeDriver() {
    auto made = std::make_unique<ScriptedDriver>();
    gDriver = made.get();
    return made;
}

namespace {

const Point kFrom{100, 100};

host::MenuItem action(const char* caption) {
    host::MenuAction a;
    a.caption = caption;
    return a;
}

TEST(CoreWaitPointerMove, TakesTheDriversAnswerOrReadsThePointerUntilItMovesOrTimeRunsOut) {
    ScriptedDriver& d = driver();

    // A window system with motion events answers itself; the pointer is not read.
    d.script(true, {});
    EXPECT_TRUE(host::WaitPointerMove(kFrom, 50));
    d.script(false, {});
    EXPECT_FALSE(host::WaitPointerMove(kFrom, 50));
    EXPECT_EQ(d.reads, 0);

    // Without: read until the pointer is elsewhere.
    d.script(std::nullopt, {kFrom, kFrom, Point{101, 100}});
    EXPECT_TRUE(host::WaitPointerMove(kFrom, 500));
    EXPECT_EQ(d.reads, 3);

    // A pointer that stays, or that cannot be read, has not moved: false at the time-out,
    // after reading every 10 ms at the most (50 ms: 5 pauses; never a spin).
    for (std::optional<Point> still : {std::optional<Point>(kFrom), std::optional<Point>()}) {
        d.script(std::nullopt, {still});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(host::WaitPointerMove(kFrom, 5));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
        EXPECT_GE(d.reads, 1);
        EXPECT_LE(d.reads, 6);
    }
}

// A host thread waiting for the pointer ends its wait at once when asked to stop, also while
// the core reads the pointer itself; a stop already requested asks the driver nothing.
TEST(CoreWaitPointerMove, AStopRequestEndsTheWait) {
    ScriptedDriver& d = driver();
    d.script(std::nullopt, {kFrom});

    class Waiter : public host::Thread {
      public:
        std::promise<bool> started;
        std::promise<bool> result;
        std::atomic<bool> waitAgain{false};
        std::atomic<int> secondWaitAsked{-1};

      protected:
        void execute(const host::ThreadArgs&) override {
            started.set_value(true);
            const bool moved = host::WaitPointerMove(kFrom, 1000); // 10 s
            const int waitsBefore = gDriver->waits;
            host::WaitPointerMove(kFrom, 1000); // the stop request still stands
            secondWaitAsked = gDriver->waits - waitsBefore;
            result.set_value(moved);
        }
    };
    auto waiter = std::make_shared<Waiter>();
    auto started = waiter->started.get_future();
    auto result = waiter->result.get_future();
    waiter->start(host::Nil);
    started.wait();
    std::this_thread::sleep_for(50ms);
    const auto asked = std::chrono::steady_clock::now();
    waiter->requestStop();
    ASSERT_EQ(result.wait_for(2s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    EXPECT_FALSE(result.get());
    EXPECT_EQ(waiter->secondWaitAsked, 0);
    waiter->synchronize(0);
}

// An entry the platform menu refuses is not kept; the numbers stay those of the entries there.
TEST(CoreMenus, AnEntryThePlatformRefusesIsNotKept) {
    driver();
    auto dlg = host::XbpDialog::New(nullptr, nullptr, Point{0, 0}, host::Size{200, 100});
    auto bar = dlg->menuBar();
    auto menu = host::XbpMenu::New(bar);
    auto& platform = static_cast<host::detail::MenuImpl&>(host::State(*menu));

    EXPECT_EQ(menu->addItem(action("~One")), 1);
    platform.refuse = true;
    EXPECT_THROW(menu->addItem(action("~Two")), host::Error);
    EXPECT_EQ(menu->numItems(), 1);
    platform.refuse = false;
    EXPECT_EQ(menu->addItem(action("~Three")), 2);
    EXPECT_EQ(platform.added, 2);

    // A menu is never its own submenu: refused before the platform is asked.
    EXPECT_THROW(menu->addItem(menu), host::Error);
    EXPECT_EQ(platform.added, 2);
    EXPECT_EQ(bar->addItem(menu), 1);
}

TEST(CoreConfirmBox, UnknownButtonsAreRefusedBeforeAnyBoxIsShown) {
    ScriptedDriver& d = driver();
    d.script(std::nullopt, {});
    EXPECT_THROW(host::ConfirmBox(nullptr, "Execute Something", "Confirm", 3), host::Error);
    EXPECT_EQ(d.boxes, 0);
    EXPECT_EQ(host::ConfirmBox(nullptr, "Execute Something", "Confirm", host::box::YesNo),
              host::box::RetOk);
    EXPECT_EQ(d.boxes, 1);
}

} // namespace
