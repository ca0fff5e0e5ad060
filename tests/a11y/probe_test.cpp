// The program as a screen reader sees it: menutest runs on the test's X server, with an
// accessibility bus (run under dbus-run-session; the bus and the registry are activated), and
// its tree, states, events, tip and box are read through libatspi while XTest drives it.
#include "../../host/a11y/bus_question.h"
#include "../app/program.h"

#include <atspi/atspi.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <X11/keysym.h>

// The probe's own process is a client of libatspi, which keeps small allocations of GLib's for
// the life of the process (seen as one 9-byte block that LeakSanitizer cannot trace past
// GLib's frames). It is not the code under test: the program it runs is leak-checked in its
// own process as every other, so the sanitizer's leak check is turned off here only.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() {
    return 1;
}

namespace {

using apptest::Program;

// An owned reference to a remote object.
struct Ref {
    AtspiAccessible* p = nullptr;
    Ref() = default;
    explicit Ref(AtspiAccessible* a) : p(a) {}
    Ref(Ref&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        std::swap(p, o.p);
        return *this;
    }
    ~Ref() {
        if (p) {
            g_object_unref(p);
        }
    }
    explicit operator bool() const { return p != nullptr; }
};

// Every read asks the program, never libatspi's cache.
std::string nameOf(AtspiAccessible* a) {
    atspi_accessible_clear_cache(a);
    gchar* n = atspi_accessible_get_name(a, nullptr);
    std::string s = n ? n : "";
    g_free(n);
    return s;
}
AtspiRole roleOf(AtspiAccessible* a) {
    return atspi_accessible_get_role(a, nullptr);
}
std::vector<Ref> childrenOf(AtspiAccessible* a) {
    std::vector<Ref> out;
    atspi_accessible_clear_cache(a);
    const gint n = atspi_accessible_get_child_count(a, nullptr);
    for (gint i = 0; i < n; ++i) {
        out.emplace_back(atspi_accessible_get_child_at_index(a, i, nullptr));
    }
    return out;
}
bool has(AtspiAccessible* a, AtspiStateType state) {
    atspi_accessible_clear_cache(a);
    AtspiStateSet* set = atspi_accessible_get_state_set(a);
    const bool on = set && atspi_state_set_contains(set, state);
    if (set) {
        g_object_unref(set);
    }
    return on;
}
Ref childNamed(AtspiAccessible* a, const std::string& name, AtspiRole role) {
    for (Ref& c : childrenOf(a)) {
        if (c && roleOf(c.p) == role && nameOf(c.p) == name) {
            return std::move(c);
        }
    }
    return {};
}
std::string keyBinding(AtspiAccessible* a) {
    AtspiAction* action = atspi_accessible_get_action_iface(a);
    if (!action) {
        return {};
    }
    gchar* k = atspi_action_get_key_binding(action, 0, nullptr);
    std::string s = k ? k : "";
    g_free(k);
    g_object_unref(action);
    return s;
}

// Waits, serving libatspi's events meanwhile.
bool waitFor(const std::function<bool()>& done, int ms = 5000) {
    return testx::XServer::waitFor(
        [&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return done();
        },
        std::chrono::milliseconds(ms));
}

// An object's place, on the screen or in its window; width 0 when it has none.
testx::Geometry extentsOf(AtspiAccessible* a, AtspiCoordType type) {
    testx::Geometry g;
    AtspiComponent* c = atspi_accessible_get_component_iface(a);
    if (!c) {
        return g;
    }
    if (AtspiRect* r = atspi_component_get_extents(c, type, nullptr)) {
        g = {r->x, r->y, r->width, r->height};
        g_free(r);
    }
    g_object_unref(c);
    return g;
}

// The events a screen reader listens to, as "type name" lines.
std::vector<std::string> events;
void onEvent(AtspiEvent* e, void*) {
    if (std::string(e->type).rfind("object:state-changed:", 0) == 0 && e->detail1 == 0) {
        g_boxed_free(ATSPI_TYPE_EVENT, e);
        return; // only states that come on
    }
    events.push_back(std::string(e->type) + " " + (e->source ? nameOf(e->source) : ""));
    g_boxed_free(ATSPI_TYPE_EVENT, e);
}
bool sawEvent(const std::string& line) {
    return std::find(events.begin(), events.end(), line) != events.end();
}

Ref findApp(const std::string& name) {
    Ref desktop(atspi_get_desktop(0));
    return childNamed(desktop.p, name, ATSPI_ROLE_APPLICATION);
}

// The application's top-level child of a role, or none.
Ref topLevel(AtspiAccessible* app, AtspiRole role) {
    for (Ref& c : childrenOf(app)) {
        if (c && roleOf(c.p) == role) {
            return std::move(c);
        }
    }
    return {};
}

TEST(Accessibility, TreeStatesTipAndBoxThroughAtSpi) {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr)
        << "run under dbus-run-session: the probe needs a session bus";
    // Asking for the desktop starts the accessibility bus and its registry (D-Bus activation),
    // before the program looks for them.
    ASSERT_EQ(atspi_init(), 0);
    Ref desktop(atspi_get_desktop(0));
    ASSERT_TRUE(desktop) << "no accessibility registry";
    AtspiEventListener* listener = atspi_event_listener_new(onEvent, nullptr, nullptr);
    for (const char* type : {"object:state-changed:selected", "object:state-changed:focused",
                             "object:state-changed:showing", "focus:", "window:create"}) {
        ASSERT_TRUE(atspi_event_listener_register(listener, type, nullptr));
    }

    testx::XServer x;
    Program program(x);
    ASSERT_TRUE(program.start());
    Ref app;
    ASSERT_TRUE(waitFor([&] { return bool(app = findApp("menutest")); }))
        << "the registry lists no application menutest";

    // The dialog, its bar and the menus, named without the mnemonic mark.
    Ref frame = childNamed(app.p, "Testing Menu Creation", ATSPI_ROLE_FRAME);
    ASSERT_TRUE(frame);
    Ref bar;
    for (Ref& c : childrenOf(frame.p)) {
        if (roleOf(c.p) == ATSPI_ROLE_MENU_BAR) {
            bar = std::move(c);
        }
    }
    ASSERT_TRUE(bar);
    Ref menu = childNamed(bar.p, "Menu Test", ATSPI_ROLE_MENU);
    ASSERT_TRUE(menu);
    EXPECT_EQ(keyBinding(menu.p), "<Alt>m;<Alt>m;");
    Ref updates = childNamed(menu.p, "Updates", ATSPI_ROLE_MENU);
    ASSERT_TRUE(updates);
    EXPECT_TRUE(childNamed(updates.p, "Update something", ATSPI_ROLE_MENU_ITEM));
    EXPECT_TRUE(childNamed(updates.p, "Any Other Thing", ATSPI_ROLE_MENU_ITEM));
    Ref reserve = childNamed(menu.p, "Reserve", ATSPI_ROLE_MENU_ITEM);
    ASSERT_TRUE(reserve);
    EXPECT_EQ(keyBinding(reserve.p), "r;<Alt>m:r;");
    EXPECT_TRUE(childNamed(menu.p, "Other option", ATSPI_ROLE_MENU_ITEM));
    EXPECT_FALSE(has(reserve.p, ATSPI_STATE_SHOWING)) << "its menu is closed";

    // Alt+M opens the menu with its first entry, "Updates", marked; Down marks "Reserve".
    x.tapKey('m', XK_Alt_L);
    ASSERT_TRUE(waitFor([&] { return has(updates.p, ATSPI_STATE_SELECTED); }));
    EXPECT_TRUE(has(menu.p, ATSPI_STATE_SELECTED)) << "the open menu's entry in the bar";
    x.tapKey(XK_Down);
    ASSERT_TRUE(waitFor([&] { return has(reserve.p, ATSPI_STATE_SELECTED); }))
        << "the marked entry is not selected";
    EXPECT_TRUE(has(reserve.p, ATSPI_STATE_FOCUSED));
    EXPECT_TRUE(has(reserve.p, ATSPI_STATE_SHOWING));
    EXPECT_FALSE(has(updates.p, ATSPI_STATE_SELECTED)) << "the mark moved on";
    // Places: the frame is the dialog's window, the bar at its top left, the marked entry in
    // the open menu below the bar.
    const testx::Geometry window = x.geometry(*program.dialog);
    const testx::Geometry frameAt = extentsOf(frame.p, ATSPI_COORD_TYPE_SCREEN);
    EXPECT_TRUE(frameAt.x == window.x && frameAt.y == window.y && frameAt.width == window.width &&
                frameAt.height == window.height)
        << frameAt.x << "," << frameAt.y << " " << frameAt.width << "x" << frameAt.height;
    const testx::Geometry barInWindow = extentsOf(bar.p, ATSPI_COORD_TYPE_WINDOW);
    EXPECT_TRUE(barInWindow.x == 0 && barInWindow.y == 0 && barInWindow.width == window.width &&
                barInWindow.height > 0);
    const testx::Geometry reserveAt = extentsOf(reserve.p, ATSPI_COORD_TYPE_SCREEN);
    EXPECT_TRUE(reserveAt.width > 0 && reserveAt.height > 0 &&
                reserveAt.y >= window.y + barInWindow.height)
        << reserveAt.x << "," << reserveAt.y << " " << reserveAt.width << "x" << reserveAt.height;
    EXPECT_TRUE(waitFor([] {
        return sawEvent("object:state-changed:selected Reserve") &&
               sawEvent("object:state-changed:focused Reserve") && sawEvent("focus: Reserve");
    })) << "no selected, focused or focus event for the marked entry";

    // Its tip, half a second later: a tool tip named by its text, showing, announced.
    const std::string tipText = "Tip Explaining the option \"Reserve\"";
    Ref tip;
    ASSERT_TRUE(waitFor([&] {
        tip = topLevel(app.p, ATSPI_ROLE_TOOL_TIP);
        return tip && nameOf(tip.p) == tipText;
    })) << "no tool tip with the tip's text";
    EXPECT_TRUE(has(tip.p, ATSPI_STATE_SHOWING));
    EXPECT_TRUE(waitFor([&] { return sawEvent("object:state-changed:showing " + tipText); }));

    // Enter chooses "Reserve": the menus close, the tip goes, the box comes.
    x.tapKey(XK_Return);
    Ref box;
    ASSERT_TRUE(waitFor([&] { return bool(box = topLevel(app.p, ATSPI_ROLE_ALERT)); }));
    EXPECT_EQ(nameOf(box.p), "Execute Something");
    EXPECT_TRUE(childNamed(box.p, "Execute Something", ATSPI_ROLE_LABEL));
    EXPECT_TRUE(waitFor([&] { return !topLevel(app.p, ATSPI_ROLE_TOOL_TIP); }))
        << "the tip's object outlived its window";
    EXPECT_TRUE(has(tip.p, ATSPI_STATE_DEFUNCT));
    EXPECT_FALSE(has(reserve.p, ATSPI_STATE_SELECTED));
    Ref ok = childNamed(box.p, "OK", ATSPI_ROLE_PUSH_BUTTON);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(has(ok.p, ATSPI_STATE_IS_DEFAULT));
    // Its default action presses it, as Enter would: the box and its objects go.
    AtspiAction* action = atspi_accessible_get_action_iface(ok.p);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(atspi_action_get_n_actions(action, nullptr), 1);
    EXPECT_TRUE(atspi_action_do_action(action, 0, nullptr));
    g_object_unref(action);
    EXPECT_TRUE(waitFor([&] { return !topLevel(app.p, ATSPI_ROLE_ALERT); }))
        << "the box's object outlived its window";

    // Choosing "Reserve" through its action, with every menu closed, does what the pointer
    // does: its menu opens, and the choice closes it and brings the box.
    AtspiAction* choose = atspi_accessible_get_action_iface(reserve.p);
    ASSERT_NE(choose, nullptr);
    EXPECT_TRUE(atspi_action_do_action(choose, 0, nullptr));
    g_object_unref(choose);
    ASSERT_TRUE(waitFor([&] { return bool(box = topLevel(app.p, ATSPI_ROLE_ALERT)); }))
        << "choosing the entry through its action brought no box";
    EXPECT_FALSE(has(reserve.p, ATSPI_STATE_SHOWING)) << "its menu stayed open";
    EXPECT_EQ(extentsOf(reserve.p, ATSPI_COORD_TYPE_SCREEN).width, 0) << "a place while closed";
    ok = childNamed(box.p, "OK", ATSPI_ROLE_PUSH_BUTTON);
    ASSERT_TRUE(ok);
    action = atspi_accessible_get_action_iface(ok.p);
    ASSERT_NE(action, nullptr);
    EXPECT_TRUE(atspi_action_do_action(action, 0, nullptr));
    g_object_unref(action);
    EXPECT_TRUE(waitFor([&] { return !topLevel(app.p, ATSPI_ROLE_ALERT); }));

    // Escape ends the program; its application leaves the registry.
    ASSERT_TRUE(x.activate(*program.dialog));
    const auto status = program.escape();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->exited && status->code == 0) << program.child->stderrText();
    EXPECT_TRUE(waitFor([] { return !findApp("menutest"); })) << "still listed once ended";
    atspi_event_listener_deregister(listener, "object:state-changed:selected", nullptr);
    g_object_unref(listener);
}

// The program asks the session bus for the accessibility bus by hand, without libdbus: the
// answers of a real bus, through the address forms a session may give.
TEST(Accessibility, AsksTheSessionBusByHand) {
    using host::a11y::NameHasOwner;
    using namespace std::chrono_literals;
    const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(env, nullptr) << "run under dbus-run-session: the probe needs a session bus";
    const std::string session = env;
    EXPECT_EQ(NameHasOwner(session, "org.freedesktop.DBus", 2s), true); // the bus owns it
    EXPECT_EQ(NameHasOwner(session, "org.example.NobodyOwnsThis", 2s), false);
    // Entries it cannot speak to are passed over; a value's bytes may be escaped as %XX.
    EXPECT_EQ(NameHasOwner("tcp:host=localhost,port=1;" + session, "org.freedesktop.DBus", 2s),
              true);
    std::string escaped;
    for (const char c : session) {
        escaped += c == '/' ? std::string("%2F") : std::string(1, c);
    }
    EXPECT_EQ(NameHasOwner(escaped, "org.freedesktop.DBus", 2s), true) << escaped;
    // No Unix socket in it: nothing to say (the caller asks another way); a dead one: no bus.
    EXPECT_EQ(NameHasOwner("tcp:host=localhost,port=1", "org.a11y.Bus", 2s), std::nullopt);
    EXPECT_EQ(NameHasOwner("unix:path=/nonexistent/bus", "org.a11y.Bus", 2s), false);
    EXPECT_EQ(NameHasOwner("unix:path=%zz", "org.a11y.Bus", 2s), false); // a broken escape
}

// Where no accessibility bus answers (a session bus without one, or a bus address that leads
// nowhere) the program starts, runs and ends as without any bus.
TEST(Accessibility, RunsAsUsualWhenNoAccessibilityBusAnswers) {
    const std::vector<std::map<std::string, std::string>> sessions = {
        {{"AT_SPI_BUS_ADDRESS", ""}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}},
        {{"AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/a11y"}},
    };
    // A failed start of the bridge leaks two strings inside atk_bridge_adaptor_init
    // (tools/lsan.supp); LeakSanitizer sees that name only with full stacks through GLib.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        (asan && *asan ? std::string(asan) + ":" : std::string()) + "fast_unwind_on_malloc=0";
    testx::XServer x;
    for (auto env : sessions) {
        env.emplace("ASAN_OPTIONS", asanOptions);
        SCOPED_TRACE(env.at("AT_SPI_BUS_ADDRESS").empty()
                         ? "a session bus that is not there"
                         : "an accessibility bus address that leads nowhere");
        Program program(x);
        ASSERT_TRUE(program.start(env));
        // The menus still work: Alt+M opens one, Escape closes it, a second Escape ends.
        // The menu is an override-redirect window more than the desktop already shows.
        const auto overrideRedirected = [&x] {
            const auto tops = x.mappedTopLevels();
            return std::count_if(tops.begin(), tops.end(),
                                 [&x](auto w) { return x.overrideRedirect(w); });
        };
        const auto before = overrideRedirected();
        const auto menuOpen = [&] { return overrideRedirected() > before; };
        x.tapKey('m', XK_Alt_L);
        EXPECT_TRUE(testx::XServer::waitFor(menuOpen, std::chrono::milliseconds(3000)));
        x.tapKey(XK_Escape);
        EXPECT_TRUE(
            testx::XServer::waitFor([&] { return !menuOpen(); }, std::chrono::milliseconds(3000)));
        const auto status = program.escape();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(status->exited && status->code == 0) << program.child->stderrText();
    }
}
} // namespace
