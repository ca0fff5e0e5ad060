// The confirmation box as a person meets it: a modal dialog centred on its owner's monitor with
// its message and an OK button, closed by a click on OK, Enter or Escape; input to the program's
// other windows is held off while it is open, and the focus goes back where it was.
#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <thread>

// Xlib last (its macros break the headers above); kept in this order on purpose.
// clang-format off
#include "support/menu_probe.h"
#include <X11/Xutil.h>
#include <X11/keysym.h>
// clang-format on

using namespace std::chrono_literals;

namespace {

void RunAsProgram(const std::function<void()>& body) {
    host::Start({.errorSys = [](const std::exception& e) { ADD_FAILURE() << e.what(); },
                 .appSys = {},
                 .appExit = host::AppExit,
                 .dbeSys = {},
                 .main = body});
}

// What the helper thread saw of the box before it closed it.
struct Seen {
    bool found = false;
    testx::Geometry geometry;
    bool modal = false;
    bool dialogType = false;
    Window transientFor = 0;
    int textWidth = 0; // dark pixels of the message band, left to right
};

// On a thread of its own (the box's loop blocks the test's main thread): waits for the box,
// looks at it, then does what a person would to close it.
std::thread Person(Seen& seen, std::function<void(testx::XServer&, const testx::Geometry&)> act) {
    return std::thread([&seen, act = std::move(act)] {
        testx::XServer x;
        Window box = 0;
        seen.found = testx::XServer::waitFor(
            [&] {
                auto w = x.findMapped("Confirm");
                box = w.value_or(0);
                return w.has_value();
            },
            3s);
        if (!seen.found) {
            return;
        }
        Display* dpy = x.display();
        seen.geometry = x.geometry(box);
        const Atom modal = XInternAtom(dpy, "_NET_WM_STATE_MODAL", False);
        for (Atom a : menuprobe::atomList(dpy, box, "_NET_WM_STATE")) {
            seen.modal = seen.modal || a == modal;
        }
        seen.dialogType = menuprobe::hasType(dpy, box, "_NET_WM_WINDOW_TYPE_DIALOG");
        XGetTransientForHint(dpy, box, &seen.transientFor);
        // The message sits in the upper part of the box, above the buttons: the span of its
        // dark pixels, read until the box has painted it (two reads alike).
        const testx::Geometry& g = seen.geometry;
        const auto messageWidth = [&] {
            int left = INT_MAX, right = -1;
            XImage* img = XGetImage(dpy, x.root(), g.x, g.y, static_cast<unsigned>(g.width),
                                    static_cast<unsigned>(g.height / 2), AllPlanes, ZPixmap);
            for (int yy = 0; img && yy < g.height / 2; ++yy) {
                for (int xx = 0; xx < g.width; ++xx) {
                    const unsigned long v = XGetPixel(img, xx, yy);
                    if (((v >> 16) & 0xff) < 0x80 && ((v >> 8) & 0xff) < 0x80 &&
                        (v & 0xff) < 0x80) {
                        left = std::min(left, xx);
                        right = std::max(right, xx);
                    }
                }
            }
            if (img) {
                XDestroyImage(img);
            }
            return right >= left ? right - left + 1 : 0;
        };
        int previous = -1;
        testx::XServer::waitFor(
            [&] {
                const int now = messageWidth();
                const bool settled = now > 0 && now == previous;
                previous = now;
                seen.textWidth = now;
                return settled;
            },
            2s);
        act(x, g);
    });
}

struct Program {
    testx::XServer x;
    std::shared_ptr<host::XbpDialog> dlg;
    int buttonDowns = 0;
    std::vector<int> programEvents;

    Program() {
        dlg = host::XbpDialog::New(host::AppDesktop(), nullptr, host::Point{50, 50},
                                   host::Size{400, 300}, {}, false);
        dlg->title("Box owner");
        dlg->create();
        host::SetAppWindow(dlg);
        dlg->show();
        host::SetAppFocus(dlg->drawingArea());
        pump(50ms);
    }
    ~Program() {
        dlg->destroy();
        host::SetAppWindow(nullptr);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void pump(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            host::Param mp1, mp2;
            std::shared_ptr<host::XbpPart> target;
            const int code = host::AppEvent(mp1, mp2, target, 1);
            buttonDowns += code == host::event::ButtonDown;
            if (code > 0 && code < 0x100000) {
                programEvents.push_back(code);
            }
            if (code != host::event::NoEvent && target) {
                target->handleEvent(code, mp1, mp2, host::Nil);
            }
        }
    }
    Window focus() const {
        Window w = 0;
        int revert = 0;
        XGetInputFocus(x.display(), &w, &revert);
        return w;
    }
};

TEST(ConfirmBox, OkClickEnterAndEscapeEachCloseTheBoxAndGiveTheFocusBack) {
    RunAsProgram([] {
        Program p;
        const Window focusBefore = p.focus();
        const Window owner = *p.x.findMapped("Box owner");
        const int measured = [] {
            auto ps = host::XbpPresSpace::New()->create();
            ps->setFont(host::DefaultFont());
            const host::TextBox b = host::GraQueryTextBox(ps, "Execute Something");
            return b.upperRight.x - b.upperLeft.x;
        }();
        struct Way {
            const char* name;
            std::function<void(testx::XServer&, const testx::Geometry&)> act;
        };
        const Way ways[] = {
            {"OK click",
             [](testx::XServer& x, const testx::Geometry& g) {
                 // The OK button: centred, near the bottom.
                 x.click(g.x + g.width / 2, g.y + g.height - 16 - 15);
             }},
            {"Enter", [](testx::XServer& x, const testx::Geometry&) { x.tapKey(XK_Return); }},
            {"Escape", [](testx::XServer& x, const testx::Geometry&) { x.tapKey(XK_Escape); }},
        };
        for (const Way& way : ways) {
            SCOPED_TRACE(way.name);
            Seen seen;
            std::thread person = Person(seen, way.act);
            const int result = host::ConfirmBox(nullptr, "Execute Something");
            person.join();
            ASSERT_TRUE(seen.found);
            EXPECT_EQ(result, host::box::RetOk);
            EXPECT_TRUE(seen.modal);
            EXPECT_TRUE(seen.dialogType);
            EXPECT_EQ(seen.transientFor, owner);
            // Centred on the monitor of its owner (the whole screen on one monitor).
            const int height = p.x.screenHeight();
            const testx::Geometry o = p.x.geometry(owner);
            const host::Rect m =
                host::MonitorAt({o.x + o.width / 2, height - 1 - (o.y + o.height / 2)});
            EXPECT_NEAR(seen.geometry.x + seen.geometry.width / 2, m.x1 + m.width() / 2, 1);
            EXPECT_NEAR(seen.geometry.y + seen.geometry.height / 2,
                        height - 1 - m.y2 + m.height() / 2, 1);
            EXPECT_NEAR(seen.textWidth, measured, 4)
                << "the message drawn is \"Execute Something\"";
            EXPECT_FALSE(p.x.findMapped("Confirm").has_value());
            EXPECT_EQ(p.focus(), focusBefore);
        }
    });
}

TEST(ConfirmBox, HoldsOffInputToOtherWindowsAndHandsBackPostedEvents) {
    RunAsProgram([] {
        Program p;
        const testx::Geometry owner = p.x.geometry(*p.x.findMapped("Box owner"));
        Seen seen;
        std::thread person = Person(seen, [&](testx::XServer& x, const testx::Geometry&) {
            x.click(owner.x + 20, owner.y + 20); // on the owner: must not reach it
            host::PostAppEvent(0x4711, 1, host::Nil, p.dlg);
            std::this_thread::sleep_for(100ms);
            EXPECT_TRUE(x.findMapped("Confirm").has_value()) << "a click elsewhere keeps it open";
            x.tapKey(XK_Escape);
        });
        const int result = host::ConfirmBox(nullptr, "Execute Something", "", host::box::OkCancel);
        person.join();
        EXPECT_EQ(result, host::box::RetCancel);
        p.pump(100ms);
        EXPECT_EQ(p.buttonDowns, 0);
        EXPECT_EQ(p.programEvents, (std::vector<int>{0x4711}));
        // An escaped box leaves nothing behind, so the program's next Escape is its own.
        p.x.tapKey(XK_Escape);
        bool escape = false;
        testx::XServer::waitFor(
            [&] {
                host::Param mp1, mp2;
                std::shared_ptr<host::XbpPart> target;
                escape = escape || (host::AppEvent(mp1, mp2, target, 1) == host::event::Keyboard &&
                                    mp1 == host::key::Escape);
                return escape;
            },
            1s);
        EXPECT_TRUE(escape);
    });
}

TEST(ConfirmBox, FiftyBoxesLeaveNoWindowBehind) {
    RunAsProgram([] {
        Program p;
        // cairo makes one helper window per connection on first drawing: counted from the
        // second box on.
        int before = 0;
        for (int i = 0; i < 51; ++i) {
            if (i == 1) {
                before = menuprobe::countWindows(p.x.display(), p.x.root());
            }
            Seen seen;
            std::thread person = Person(
                seen, [](testx::XServer& x, const testx::Geometry&) { x.tapKey(XK_Return); });
            host::ConfirmBox(p.dlg, "Execute Something");
            person.join();
            ASSERT_TRUE(seen.found) << i;
        }
        EXPECT_EQ(menuprobe::countWindows(p.x.display(), p.x.root()), before);
    });
}

} // namespace
