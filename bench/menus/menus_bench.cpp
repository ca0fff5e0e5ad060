// Prints how long a person waits for menus: from the click on a bar entry to its menu mapped
// and painted, and from a pointer move onto an entry to that entry drawn marked with its
// itemMarked callback run. Input goes in through XTest on a connection of the driver's own;
// "painted" means the runtime's connection has been synced after the drawing.
#include <host/application.h>
#include <host/windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * (ms.size() - 1))]; };
    std::printf("%-44s n=%zu  median %.3f ms  p90 %.3f ms  min %.3f ms  max %.3f ms\n", what,
                ms.size(), at(0.5), at(0.9), ms.front(), ms.back());
}

struct Driver {
    Display* dpy = XOpenDisplay(nullptr);
    ~Driver() { XCloseDisplay(dpy); }
    Driver() = default;
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    void move(int x, int y) {
        XTestFakeMotionEvent(dpy, DefaultScreen(dpy), x, y, CurrentTime);
        XFlush(dpy);
    }
    void click() {
        XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        XFlush(dpy);
    }
    void key(KeySym sym) {
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, sym), True, CurrentTime);
        XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, sym), False, CurrentTime);
        XFlush(dpy);
    }
};

void run() {
    Driver d;
    const int screenH = DisplayHeight(d.dpy, DefaultScreen(d.dpy));
    auto dlg =
        host::XbpDialog::New(host::AppDesktop(), nullptr, host::Point{100, screenH - 100 - 300},
                             host::Size{500, 300}, {}, false);
    dlg->title("menu bench");
    dlg->create();
    auto bar = dlg->menuBar();
    int marks = 0;
    bool ended = false;
    auto menu = host::XbpMenu::New(bar)->create();
    menu->title("~Menu Test");
    menu->itemMarked({"{|n| count}", [&](int) { ++marks; }});
    menu->endMenu({"{|| ended}", [&] { ended = true; }});
    for (const char* caption : {"~Updates", "~Reserve", "~Other option"}) {
        menu->addItem(host::MenuAction{caption, {}, host::Nil, host::Nil});
    }
    bar->addItem(menu);
    dlg->show();
    host::SetAppFocus(dlg->drawingArea());

    // Serves events until `done`; returns false after `limit` without it.
    auto pumpUntil = [&](auto done, std::chrono::milliseconds limit = std::chrono::seconds(2)) {
        const auto end = Clock::now() + limit;
        while (!done() && Clock::now() < end) {
            host::Param mp1, mp2;
            std::shared_ptr<host::XbpPart> target;
            const int code = host::AppEvent(mp1, mp2, target, 1);
            if (code != host::event::NoEvent && target) {
                target->handleEvent(code, mp1, mp2, host::Nil);
            }
        }
        return done();
    };
    // The runtime's connection synced: everything drawn so far is on the server.
    auto synced = [&] {
        dlg->drawingArea()->lockPS();
        dlg->drawingArea()->unlockPS();
    };
    pumpUntil([] { return false; }); // first paint, fonts loaded
    // The bar entry and the menu's entries (a 25-pixel bar; entries about 25 pixels tall).
    const int barX = 130, barY = 110;
    const int menuLeft = 120, entryTop = 100 + 25 + 4;
    const int entryH = 25;

    const int rounds = std::getenv("BENCH_ROUNDS") ? std::atoi(std::getenv("BENCH_ROUNDS")) : 200;
    std::vector<double> open, mark;
    for (int i = 0; i < rounds; ++i) {
        d.move(barX, barY);
        pumpUntil([] { return false; }, std::chrono::milliseconds(30)); // let the motion settle
        // Click -> menu mapped and painted: opening happens while the ButtonDown is handled.
        int before = marks;
        bool opened = false;
        const auto t0 = Clock::now();
        d.click();
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (!opened && Clock::now() < end) {
            host::Param mp1, mp2;
            std::shared_ptr<host::XbpPart> target;
            const int code = host::AppEvent(mp1, mp2, target, 1);
            if (code != host::event::NoEvent && target) {
                target->handleEvent(code, mp1, mp2, host::Nil);
                opened = code == host::event::ButtonDown && target == bar;
            }
        }
        synced();
        open.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (!opened) {
            std::fprintf(stderr, "the menu did not open\n");
            std::exit(1);
        }
        // Pointer move onto an entry -> drawn marked and itemMarked run.
        for (int entry : {2, 3, 2}) {
            before = marks;
            const auto t1 = Clock::now();
            d.move(menuLeft + 30, entryTop + entryH * (entry - 1) + entryH / 2);
            if (!pumpUntil([&] { return marks != before; })) {
                std::fprintf(stderr, "no mark\n");
                std::exit(1);
            }
            synced();
            mark.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
        }
        ended = false;
        d.key(XK_Escape);
        pumpUntil([&] { return ended; });
    }
    report("click on bar entry -> menu mapped and painted", open);
    report("pointer onto entry -> marked and itemMarked", mark);
    bar->destroy();
    dlg->destroy();
}

} // namespace

int main() {
    return host::Start({.errorSys = host::ErrorSys,
                        .appSys = {},
                        .appExit = host::AppExit,
                        .dbeSys = {},
                        .main = run});
}
