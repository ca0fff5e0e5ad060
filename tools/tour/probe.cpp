// desktop-probe: what the X server at $DISPLAY shows of its desktop, for the scripts that start
// desktops (tools/xvfb) and wait until each part has really taken the screen.
//   desktop-probe wm        exit 0 once an EWMH window manager runs; prints its name
//   desktop-probe cm        exit 0 once a compositing manager owns _NET_WM_CM_S<screen>
//   desktop-probe monitors  the monitors, one "WxH+X+Y" a line, the primary first
#include "support/xserver.h"

#include <cstdio>
#include <exception>
#include <string_view>

int main(int argc, char** argv) {
    const std::string_view what = argc == 2 ? argv[1] : "";
    if (what != "wm" && what != "cm" && what != "monitors") {
        std::fputs("usage: desktop-probe wm|cm|monitors\n", stderr);
        return 2;
    }
    try {
        const testx::XServer x;
        if (what == "wm") {
            const std::string name = x.windowManager();
            std::printf("%s\n", name.empty() ? "none" : name.c_str());
            return name.empty() ? 1 : 0;
        }
        if (what == "cm") {
            const bool on = x.compositing();
            std::printf("%s\n", on ? "compositing" : "none");
            return on ? 0 : 1;
        }
        for (const auto& m : x.monitors()) {
            std::printf("%dx%d+%d+%d\n", m.width, m.height, m.x, m.y);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "desktop-probe: %s\n", e.what());
        return 2;
    }
}
