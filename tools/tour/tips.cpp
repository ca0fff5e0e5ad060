// The tour's steps over the menus: rest on every entry and look at its tip (delay, place,
// size, colours, CPU while it shows), then move the pointer within and out of its square.
#include "proc.h"
#include "tour.h"
#include "util.h"

#include <algorithm>
#include <thread>
#include <utility>

// clang-format off
#include "support/menu_probe.h" // Xlib last: its macros break the headers above
#include <X11/keysym.h>
// clang-format on

namespace tour {

namespace {

using namespace std::chrono_literals;

// Where the placement rule puts a tip of `size` for the pointer at X11 (px, py): its lower
// left corner 40 pixels below the pointer in host terms (so its bottom row is 40 rows below
// the pointer row), pulled back at the right edge of the monitor under the pointer, raised by
// 8 when it would start below the screen's bottom.
testx::Geometry placedTip(int px, int py, Size size, const testx::Geometry& monitor, int screenH) {
    testx::Geometry g{px, py + 41 - size.height, size.width, size.height};
    if (g.x + g.width > monitor.x + monitor.width) {
        g.x = monitor.x + monitor.width - g.width;
    }
    if (py + 41 > screenH) {
        g.y -= 8;
    }
    return g;
}

} // namespace

// ---- tipsOfTheMenu ---------------------------------------------------------------------------

bool Tour::menusOpen(std::size_t count) {
    return testx::XServer::waitFor([&] { return menuprobe::openMenus(x_).size() == count; }, 2s);
}

bool Tour::openMenuByPointer() {
    // "Menu Test" is the first entry at the left of the bar.
    x_.click(bar_.x + 30, bar_.y + bar_.height / 2);
    return menusOpen(1);
}

Tour::Point Tour::entry(std::size_t level, int n, int count) const {
    const auto menus = menuprobe::openMenus(x_);
    if (level >= menus.size()) {
        return {};
    }
    const auto [ex, ey] = menuprobe::entryCentre(x_.geometry(menus[level]), n, count);
    return {ex, ey};
}

bool Tour::tipShowing(testx::Window w) const {
    const auto tips = menuprobe::tips(x_);
    return std::find(tips.begin(), tips.end(), w) != tips.end();
}

bool Tour::noTip() const {
    return menuprobe::tips(x_).empty();
}

std::optional<Tour::Tip> Tour::markAndWaitForTip(Point p, const std::string& label) {
    // The tip of the entry marked before goes when this one is marked; wait for a new one.
    const auto before = menuprobe::tips(x_);
    x_.movePointer(p.x, p.y);
    const auto marked = Clock::now();
    Tip tip;
    // Up: mapped, and painted as far as its red frame, polled every 2 ms. On Xwayland the
    // screen's picture costs a compositor frame or a portal round trip (up to 0.4 s), too slow
    // to time the tip by: there the tip window's own pixels say when it is painted, and the
    // checks after look at the screen.
    const bool up = testx::XServer::waitFor(
        [&] {
            const auto tips = menuprobe::tips(x_);
            if (tips.empty() ||
                std::find(before.begin(), before.end(), tips.back()) != before.end()) {
                return false;
            }
            tip.window = tips.back();
            tip.geometry = x_.geometry(tip.window);
            return tip.geometry.width > 2 &&
                   is(x_.wayland() ? x_.windowPixel(tip.window, 1, 1)
                                   : x_.pixel(tip.geometry.x + 1, tip.geometry.y + 1),
                      kFrame);
        },
        1500ms);
    tip.delayS = elapsedS(marked);
    if (!record_.check(label + ": tip appears", "within 1.5 s of the mark",
                       up ? seconds(tip.delayS) : "no tip", up)) {
        return std::nullopt;
    }
    return tip;
}

void Tour::checkTip(const Tip& tip, Point pointer, const std::string& label,
                    const std::string& text) {
    record_.timingCheck(label + ": tip delay", "0.45 s to 0.7 s after the mark",
                        seconds(tip.delayS), tip.delayS >= 0.45 && tip.delayS <= 0.7);
    const Size size = tipSizes_.at(text);
    const testx::Geometry want = placedTip(pointer.x, pointer.y, size,
                                           x_.monitorAt(pointer.x, pointer.y), x_.screenHeight());
    const testx::Geometry& got = tip.geometry;
    record_.check(label + ": tip size",
                  "text box + 8 by 6 = " + std::to_string(size.width) + "x" +
                      std::to_string(size.height),
                  std::to_string(got.width) + "x" + std::to_string(got.height),
                  got.width == size.width && got.height == size.height);
    record_.check(label + ": tip placement",
                  "top left " + at(want.x, want.y) + " +-1 px for pointer " +
                      at(pointer.x, pointer.y),
                  at(got.x, got.y), std::abs(got.x - want.x) <= 1 && std::abs(got.y - want.y) <= 1);
    record_.timing(label + ": tip", seconds(tip.delayS),
                   where(got) + ", pointer " + at(pointer.x, pointer.y));

    // The text is drawn right after the frame; let it land before looking.
    std::this_thread::sleep_for(50ms);
    const Image img = Image::grab(x_, got);
    const int w = img.width(), h = img.height();
    // Fill: the outer edge and the band between frame and text.
    int fillSeen = 0, fillTotal = 0;
    for (const auto& [px, py] : {std::pair{0, 0},
                                 {w - 1, 0},
                                 {0, h - 1},
                                 {w - 1, h - 1},
                                 {2, 2},
                                 {w - 3, 2},
                                 {2, h - 3},
                                 {w - 3, h - 3}}) {
        ++fillTotal;
        fillSeen += is(img.at(px, py), kFill) ? 1 : 0;
    }
    record_.check(label + ": tip fill", "pale yellow rgb(255, 255, 180) at edge and inside",
                  std::to_string(fillSeen) + " of " + std::to_string(fillTotal) + " pixels, e.g. " +
                      testx::str(img.at(2, 2)),
                  fillSeen == fillTotal);
    // Frame: every pixel of the rectangle one pixel inside the edge is red, or covered by the
    // text where a descender reaches down into it.
    const auto dark = [](const testx::Pixel& px) { return px.r + px.g + px.b < 400; };
    int frameRed = 0, frameUnderText = 0, frameTotal = 0;
    const auto frameAt = [&](int i, int j) {
        ++frameTotal;
        const testx::Pixel px = img.at(i, j);
        frameRed += is(px, kFrame) ? 1 : 0;
        frameUnderText += !is(px, kFrame) && dark(px) ? 1 : 0;
    };
    for (int i = 1; i <= w - 2; ++i) {
        frameAt(i, 1);
        frameAt(i, h - 2);
    }
    for (int j = 2; j <= h - 3; ++j) {
        frameAt(1, j);
        frameAt(w - 2, j);
    }
    record_.check(label + ": tip frame", "red rgb(255, 0, 0), 1 px, one pixel inside the edge",
                  std::to_string(frameRed) + " of " + std::to_string(frameTotal) + " pixels red, " +
                      std::to_string(frameUnderText) + " under text",
                  frameTotal > 0 && frameRed + frameUnderText == frameTotal &&
                      frameRed * 10 >= frameTotal * 9);
    if (frameUnderText > 0) {
        record_.timing(label + ": text over the frame", std::to_string(frameUnderText) + " px",
                       "descenders reach into the bottom frame line");
    }
    // Text: pixels in the ink colour, and none on the tip's outer edge.
    int ink = 0, onEdge = 0;
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const testx::Pixel px = img.at(i, j);
            ink += is(px, kInk) ? 1 : 0;
            const bool edge = i == 0 || j == 0 || i == w - 1 || j == h - 1;
            onEdge += edge && dark(px) && !is(px, kFrame) ? 1 : 0;
        }
    }
    record_.check(label + ": tip text", "dark indigo rgb(40, 25, 115), >= 20 px, inside the tip",
                  std::to_string(ink) + " ink px, " + std::to_string(onEdge) + " on the edge",
                  ink >= 20 && onEdge == 0);
}

void Tour::measureCpuWhileTipShows(const Tip& tip) {
    const pid_t pid = program_->pid();
    const auto before = cpuTicks(pid);
    const auto from = Clock::now();
    std::this_thread::sleep_for(3s);
    const auto after = cpuTicks(pid);
    const double spanS = elapsedS(from);
    const bool stillShown = tipShowing(tip.window);
    if (!before || !after) {
        record_.check("CPU while a tip shows", "readable", "no /proc entry", false);
        return;
    }
    const double cpu = 100.0 * static_cast<double>(*after - *before) /
                       static_cast<double>(::sysconf(_SC_CLK_TCK)) / spanS;
    record_.timingCheck("CPU while a tip shows", "<= 2% of a core (tip shown, pointer still)",
                        fixed(cpu, 2) + "% over " + fixed(spanS, 1) + " s" +
                            (stillShown ? "" : " (tip went away)"),
                        cpu <= 2.0 && stillShown);
    record_.timing("CPU while a tip shows", fixed(cpu, 2) + "%", "of one core, over a few seconds");
    cpuMeasured_ = true;
}

bool Tour::tipsOfTheMenu() {
    progress("menu tips", "open \"Menu Test\" and rest on each entry");
    if (!record_.check("\"Menu Test\" opens on a click", "one menu open", "",
                       openMenuByPointer())) {
        return false;
    }
    screenshot("02-menu.png", "\"Menu Test\" open.", shotArea());
    // "Updates" has no tip; marking it opens its submenu.
    const Point updates = entry(0, 1, 3);
    x_.movePointer(updates.x, updates.y);
    std::this_thread::sleep_for(900ms);
    record_.check("Updates: no tip, submenu opens", "no tip after 0.9 s; two menus open",
                  std::to_string(menuprobe::tips(x_).size()) + " tips, " +
                      std::to_string(menuprobe::openMenus(x_).size()) + " menus",
                  noTip() && menuprobe::openMenus(x_).size() == 2);

    const struct {
        int n;
        const char* label;
        const char* text;
        const char* file;
    } entries[] = {{2, "Reserve", "Tip Explaining the option \"Reserve\"", "03-tip-reserve.png"},
                   {3, "Other option", "Other explanation tip", "04-tip-other-option.png"}};
    for (const auto& e : entries) {
        const Point p = entry(0, e.n, 3);
        const auto tip = markAndWaitForTip(p, e.label);
        if (!tip) {
            return false;
        }
        checkTip(*tip, p, e.label, e.text);
        screenshot(e.file, std::string("The tip for \"") + e.label + "\".", shotArea());
        if (!cpuMeasured_) {
            measureCpuWhileTipShows(*tip);
        }
        lastTip_ = *tip;
        lastPointer_ = p;
    }
    return true;
}

// ---- stayAndLeave ----------------------------------------------------------------------------

void Tour::stayThenLeave(const Tip& tip, Point p, const std::string& label) {
    // Sideways, so the pointer stays on the same entry: 8 pixels is still inside the square.
    x_.movePointer(p.x + 8, p.y);
    std::this_thread::sleep_for(300ms);
    const bool stayed = tipShowing(tip.window) && x_.geometry(tip.window).x == tip.geometry.x;
    record_.check(label + ": tip stays when the pointer moves 8 px", "still shown 0.3 s later",
                  stayed ? "shown" : "gone", stayed);
    x_.movePointer(p.x + 9, p.y);
    const auto moved = Clock::now();
    const bool gone = testx::XServer::waitFor([&] { return !tipShowing(tip.window); }, 1s);
    const double hideS = elapsedS(moved);
    record_.timingCheck(label + ": tip goes when the pointer moves 9 px", "within 0.15 s",
                        gone ? seconds(hideS) : "still shown after 1 s", gone && hideS <= 0.15);
    if (gone) {
        record_.timing(label + ": hide latency", millis(hideS * 1000), "pointer 9 px away");
    }
}

bool Tour::stayAndLeave() {
    progress("stay and leave", "move the pointer 8 px (the tip stays), then 9 px (it goes)");
    stayThenLeave(lastTip_, lastPointer_, "Other option");
    return true;
}

// ---- tipsOfUpdates ---------------------------------------------------------------------------

bool Tour::tipsOfUpdates() {
    progress("submenu tips", "open \"Updates\", rest on its entries, leave with Escape");
    const Point updates = entry(0, 1, 3);
    x_.movePointer(updates.x, updates.y);
    if (!record_.check("\"Updates\" opens its submenu", "two menus open", "", menusOpen(2))) {
        return false;
    }
    const struct {
        int n;
        const char* label;
        const char* file;
    } entries[] = {{1, "Update something", "05-tip-update-something.png"},
                   {2, "Any Other Thing", "06-tip-any-other-thing.png"}};
    for (const auto& e : entries) {
        const Point p = entry(1, e.n, 2);
        const auto tip = markAndWaitForTip(p, e.label);
        if (!tip) {
            return false;
        }
        checkTip(*tip, p, e.label, "Tip for updating");
        screenshot(e.file, std::string("The tip for \"") + e.label + "\".", shotArea());
        stayThenLeave(*tip, p, e.label);
    }
    // Escape closes one level at a time and never ends the program.
    for (std::size_t open = 2; open > 0; --open) {
        x_.tapKey(XK_Escape);
        const bool closed = menusOpen(open - 1);
        record_.check("Escape closes one menu level", std::to_string(open - 1) + " menus open",
                      std::to_string(menuprobe::openMenus(x_).size()) + " open", closed);
    }
    std::this_thread::sleep_for(200ms);
    record_.check("menus closed by Escape, program still running", "running, no tip",
                  program_->running() ? (noTip() ? "running" : "running, tip shown") : "ended",
                  program_->running() && noTip());
    return program_->running();
}
} // namespace tour
