// The event queue: keys and the close request as a person and a window manager make them,
// posted events, and waiting with a time-out.
#include "fixture.h"

#include <chrono>
#include <thread>

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace host;
using hosttest::RunAsMain;

namespace {

struct Taken {
    int code = event::NoEvent;
    Param mp1, mp2;
    std::shared_ptr<XbpPart> target;
};

// The next event with `code`, dispatching the others; NoEvent after the time passes.
Taken next(int code, int ms = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        Taken t;
        t.code = AppEvent(t.mp1, t.mp2, t.target, 5);
        if (t.code == code) {
            return t;
        }
        if (t.target) {
            t.target->handleEvent(t.code, t.mp1, t.mp2);
        }
    }
    return {};
}

std::shared_ptr<XbpDialog> focusedDialog(const std::string& title) {
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{200, 200}, Size{300, 200}, {}, false);
    dlg->title(title);
    dlg->create();
    dlg->show();
    SetAppFocus(dlg->drawingArea());
    return dlg;
}

} // namespace

TEST(Keys, ArriveAsKeyboardEventsWithTheirCodes) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = focusedDialog("Keys");
        x.movePointer(300, 300);
        const struct {
            unsigned long sym;
            unsigned long modifier;
            long code;
            long mods;
        } cases[] = {{XK_Escape, 0, key::Escape, 0},
                     {XK_Return, 0, key::Enter, 0},
                     {XK_a, 0, 'a', 0},
                     {XK_a, XK_Shift_L, 'A', mod::Shift},
                     {XK_m, XK_Alt_L, 'm', mod::Alt},
                     {XK_Up, 0, key::Up, 0},
                     {XK_F10, 0, key::F1 + 9, 0},
                     {XK_Tab, 0, key::Tab, 0}};
        for (const auto& c : cases) {
            x.tapKey(c.sym, c.modifier);
            const Taken t = next(event::Keyboard);
            ASSERT_EQ(t.code, event::Keyboard) << "keysym " << c.sym;
            EXPECT_EQ(t.mp1, c.code) << "keysym " << c.sym;
            EXPECT_EQ(t.mp2, c.mods) << "keysym " << c.sym;
            EXPECT_EQ(t.target, dlg->drawingArea()) << "the focused window receives keys";
        }
        dlg->destroy();
    });
}

TEST(CloseRequest, BecomesTheCloseEventAndRunsTheCloseCallback) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = focusedDialog("Closable");
        int closes = 0;
        dlg->close(Callback<bool()>("{|| PostAppEvent(27)}", [&] {
            ++closes;
            return PostAppEvent(27);
        }));
        SetAppWindow(dlg);
        // What a window manager sends when the user clicks the close button (ICCCM).
        Display* dpy = x.display();
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = *x.findMapped("Closable");
        ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
        XSendEvent(dpy, ev.xclient.window, False, NoEventMask, &ev);
        XSync(dpy, False);
        Taken t = next(event::Close);
        ASSERT_EQ(t.code, event::Close);
        EXPECT_EQ(t.target, dlg);
        EXPECT_EQ(closes, 0) << "taking the event does not run the callback";
        t.target->handleEvent(t.code, t.mp1, t.mp2);
        EXPECT_EQ(closes, 1);
        // The callback posted event 27: it is delivered to the application window.
        t = next(27);
        ASSERT_EQ(t.code, 27);
        EXPECT_EQ(t.target, dlg);
        EXPECT_FALSE(t.mp1.has_value());
        SetAppWindow(nullptr);
        dlg->destroy();
    });
}

TEST(Queue, PostedEventsWakeTheWaiterAndTimeOutsReturnNoEvent) {
    testx::XServer x;
    RunAsMain([&] {
        auto dlg = focusedDialog("Queue");
        while (next(-1, 50).code != event::NoEvent) {
        }
        Param mp1, mp2;
        std::shared_ptr<XbpPart> target;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(AppEvent(mp1, mp2, target, 10), event::NoEvent);
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(95));
        EXPECT_LT(waited, std::chrono::milliseconds(400));

        std::thread poster([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            PostAppEvent(4711, 1, 2, dlg);
        });
        start = std::chrono::steady_clock::now();
        const int code = AppEvent(mp1, mp2, target, 300);
        waited = std::chrono::steady_clock::now() - start;
        poster.join();
        EXPECT_EQ(code, 4711);
        EXPECT_EQ(mp1, 1);
        EXPECT_EQ(mp2, 2);
        EXPECT_EQ(target, dlg);
        EXPECT_LT(waited, std::chrono::milliseconds(1000));
        // An event for a window that is gone is dropped, not delivered to a dead object.
        {
            auto gone = XbpDialog::New(AppDesktop(), nullptr, Nil, Size{10, 10}, {}, false);
            PostAppEvent(4712, Nil, Nil, gone);
        }
        EXPECT_EQ(AppEvent(mp1, mp2, target, 5), event::NoEvent);
        EXPECT_FALSE(PostAppEvent(27)) << "no application window: nowhere to deliver";
        dlg->destroy();
    });
}
