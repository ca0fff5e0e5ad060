// Prints how a menu keeps up while the pointer sweeps over entries that have tips: a driver
// thread moves the pointer (XTest, its own connection) onto another entry every 20 ms, 40
// times, then every 300 ms; for each move, the time until that entry is drawn marked (the
// runtime's connection synced after the mark, at the entry's itemMarked, which then shows
// the entry's tip through ShowMenuTip_ as the program does).
#include <host/application.h>
#include <host/windows.h>
#include <menutip/ZebMenuTip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-46s n=%zu  median %.3f ms  max %.3f ms  min %.3f ms\n", what, v.size(),
                v[v.size() / 2], v.back(), v.front());
}

struct Sweep {
    std::mutex m;
    std::vector<Clock::time_point> moved;  // when move i was sent
    std::vector<Clock::time_point> marked; // when mark i was drawn
    std::vector<int> movedTo, markedEntry; // the entries, to check that they pair up
};

void run() {
    Display* drv = XOpenDisplay(nullptr);
    const int screenH = DisplayHeight(drv, DefaultScreen(drv));
    auto move = [&](int x, int y) {
        XTestFakeMotionEvent(drv, DefaultScreen(drv), x, y, CurrentTime);
        XFlush(drv);
    };
    auto dlg =
        host::XbpDialog::New(host::AppDesktop(), nullptr, host::Point{100, screenH - 100 - 300},
                             host::Size{500, 300}, {}, false);
    dlg->title("sweep bench");
    dlg->create();
    auto bar = dlg->menuBar();
    Sweep sweep;
    const std::vector<std::string> tips = {"Tip for the first entry", "Tip for the second entry",
                                           "Tip for the third entry"};
    auto synced = [&] {
        dlg->drawingArea()->lockPS();
        dlg->drawingArea()->unlockPS();
    };
    auto menu = host::XbpMenu::New(bar)->create();
    menu->title("~Menu Test");
    menu->itemMarked({"{|n| ShowMenuTip_(aTips[n])}", [&](int n) {
                          synced();
                          {
                              std::lock_guard lk(sweep.m);
                              sweep.marked.push_back(Clock::now());
                              sweep.markedEntry.push_back(n);
                          }
                          ShowMenuTip_(tips[static_cast<std::size_t>(n) - 1]);
                      }});
    menu->endMenu({"{|| HideMenuTip_()}", [] { HideMenuTip_(); }});
    for (const char* caption : {"~Updates", "~Reserve", "~Other option"}) {
        menu->addItem(host::MenuAction{caption, {}, host::Nil, host::Nil});
    }
    bar->addItem(menu);
    dlg->show();
    host::SetAppFocus(dlg->drawingArea());

    auto pumpFor = [&](Clock::duration d) {
        const auto end = Clock::now() + d;
        while (Clock::now() < end) {
            host::Param mp1, mp2;
            std::shared_ptr<host::XbpPart> target;
            const int code = host::AppEvent(mp1, mp2, target, 1);
            if (code != host::event::NoEvent && target) {
                target->handleEvent(code, mp1, mp2, host::Nil);
            }
        }
    };
    pumpFor(std::chrono::milliseconds(300));
    const int menuLeft = 120, entryTop = 100 + 25 + 4, entryH = 25;
    auto entryPoint = [&](int entry, int i) {
        return std::pair{menuLeft + 30 + (i % 7), entryTop + entryH * (entry - 1) + entryH / 2};
    };

    for (const auto& [label, gap, moves] :
         {std::tuple{"sweep, a new entry every 20 ms", 20, 40},
          std::tuple{"slow, a new entry every 300 ms", 300, 10}}) {
        move(130, 110); // the bar entry; a click opens the menu
        pumpFor(std::chrono::milliseconds(50));
        XTestFakeButtonEvent(drv, 1, True, CurrentTime);
        XTestFakeButtonEvent(drv, 1, False, CurrentTime);
        XFlush(drv);
        pumpFor(std::chrono::milliseconds(100));
        {
            const auto [x, y] = entryPoint(1, 0);
            move(x, y);
        }
        pumpFor(std::chrono::milliseconds(100));
        {
            std::lock_guard lk(sweep.m);
            sweep.moved.clear();
            sweep.marked.clear();
            sweep.movedTo.clear();
            sweep.markedEntry.clear();
        }
        // Moves go out on time whatever the event loop does; entries 2 and 3 take turns.
        std::thread driver([&, gap = gap, moves = moves] {
            const auto t0 = Clock::now();
            for (int i = 0; i < moves; ++i) {
                std::this_thread::sleep_until(t0 + std::chrono::milliseconds(gap) * i);
                const auto [x, y] = entryPoint(2 + i % 2, i);
                std::lock_guard lk(sweep.m);
                sweep.moved.push_back(Clock::now());
                move(x, y);
                sweep.movedTo.push_back(2 + i % 2);
            }
        });
        pumpFor(std::chrono::milliseconds(gap) * moves + std::chrono::milliseconds(600));
        driver.join();
        std::vector<double> lag;
        {
            std::lock_guard lk(sweep.m);
            for (std::size_t i = 0; i < sweep.moved.size() && i < sweep.marked.size(); ++i) {
                lag.push_back(ms(sweep.marked[i] - sweep.moved[i]));
            }
            if (sweep.markedEntry != sweep.movedTo) {
                std::printf("%s: the marks do not pair up with the moves (%zu moves, %zu "
                            "marks)\n",
                            label, sweep.moved.size(), sweep.marked.size());
            }
        }
        if (!lag.empty()) {
            report(label, lag);
        }
        XTestFakeKeyEvent(drv, XKeysymToKeycode(drv, XK_Escape), True, CurrentTime);
        XTestFakeKeyEvent(drv, XKeysymToKeycode(drv, XK_Escape), False, CurrentTime);
        XFlush(drv);
        pumpFor(std::chrono::milliseconds(100));
    }
    bar->destroy();
    dlg->destroy();
    XCloseDisplay(drv);
}

} // namespace

int main() {
    return host::Start({.errorSys = host::ErrorSys,
                        .appSys = {},
                        .appExit = host::AppExit,
                        .dbeSys = {},
                        .main = run});
}
