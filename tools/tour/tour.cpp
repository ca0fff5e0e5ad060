// The tour's steps: start menutest, rest on every menu entry and look at its tip, move the
// pointer out of the tip's square, choose entries by pointer and keyboard, end the program and
// look at its captures, and repaint a desktop rectangle through the companion program.
#include "tour.h"

#include "proc.h"
#include "support/bmp.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

// clang-format off
#include "expose.h"
#include "menus/menu_probe.h" // Xlib last: its macros break the headers above
#include <X11/keysym.h>
// clang-format on

namespace tour {

namespace {

using namespace std::chrono_literals;

constexpr const char* kTitle = "Testing Menu Creation";
constexpr int kSteps = 7;

// The tip's three colours.
constexpr testx::Pixel kFill{255, 255, 180};
constexpr testx::Pixel kFrame{255, 0, 0};
constexpr testx::Pixel kInk{40, 25, 115};

bool is(const testx::Pixel& p, const testx::Pixel& want) {
    return testx::near(p, want.r, want.g, want.b, 3);
}

double elapsedS(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double wallNow() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The file's modification time in wall-clock seconds; nullopt when it is missing.
std::optional<double> modified(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

std::string where(const testx::Geometry& g) {
    std::ostringstream s;
    s << g.width << "x" << g.height << " at (" << g.x << ", " << g.y << ")";
    return s.str();
}

std::string at(int x, int y) {
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

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

using testx::Bmp;

// How a capture compares with the screen as the tour saw it over an area (the dialog's frame
// and a margin), on a grid of every fourth pixel: the points that differ are traces of
// something the screen did not show at that moment.
struct Comparison {
    int points = 0;
    int differ = 0;
    std::string firstDiffer; // "(x, y): capture rgb(...), screen rgb(...)"
};

Comparison compare(const Bmp& capture, const Image& screen, const testx::Geometry& area) {
    Comparison c;
    for (int sy = area.y; sy < area.y + area.height; sy += 4) {
        for (int sx = area.x; sx < area.x + area.width; sx += 4) {
            const testx::Pixel shown = screen.at(sx - screen.area().x, sy - screen.area().y);
            if (!capture.holds(sx, sy) || shown.r < 0) {
                continue;
            }
            ++c.points;
            const testx::Pixel got = capture.screenPixel(sx, sy);
            if (!testx::near(got, shown.r, shown.g, shown.b, 6)) {
                if (c.differ++ == 0) {
                    c.firstDiffer = at(sx, sy) + ": capture " + testx::str(got) + ", screen " +
                                    testx::str(shown);
                }
            }
        }
    }
    return c;
}

std::filesystem::path besideMe(const std::string& name) {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
}

} // namespace

Tour::Tour(Options options, std::string where, std::map<std::string, Size> tipSizes)
    : options_(std::move(options)), where_(std::move(where)), record_(options_.timingBounds),
      tipSizes_(std::move(tipSizes)) {
    // Windows of the program come and go while the tour reads their properties.
    menuprobe::tolerateVanishingWindows();
}

bool Tour::run() {
    std::filesystem::create_directories(options_.out);
    const bool finished = startProgram() && tipsOfTheMenu() && stayAndLeave() && tipsOfUpdates() &&
                          chooseEntries() && endProgram();
    if (!finished) {
        record_.check("the tour reached the end of the program", "every step ran", "stopped early",
                      false);
        program_.reset(); // kills a program still running
    }
    repaintRectangle();
    std::ofstream(options_.out / "report.md") << record_.markdown(
        "menutest on " + where_ + (options_.timingBounds ? "" : "; timing bounds not enforced"));
    return record_.allPassed();
}

void Tour::progress(int step, const std::string& what) const {
    std::fprintf(stderr, "tour [%d/%d] %s\n", step, kSteps, what.c_str());
}

double Tour::sinceStart(Clock::time_point t) const {
    return std::chrono::duration<double>(t - started_).count();
}

void Tour::screenshot(const std::string& file, const std::string& caption, testx::Geometry g) {
    const Image img = Image::grab(x_, g);
    if (img.savePng((options_.out / file).string())) {
        record_.shot(file, caption);
    } else {
        record_.check("screenshot " + file, "written", "not written", false);
    }
}

// ---- Step 1 ----------------------------------------------------------------------------------

bool Tour::activateDialog(const std::string& why) {
    const bool active = x_.activate(dialogWindow_);
    if (!active) {
        record_.check("the dialog takes the keyboard " + why, "focus in the dialog within 2 s",
                      "no focus", false);
    }
    return active;
}

void Tour::checkCentred(const std::string& name, testx::Window w, const testx::Geometry& monitor) {
    const auto extents = x_.frameExtents(w);
    const testx::Geometry seen = extents ? x_.frame(w) : x_.geometry(w);
    const testx::Geometry want = testx::centredOn(monitor, seen.width, seen.height);
    const bool centred = std::abs(seen.x - want.x) <= 2 && std::abs(seen.y - want.y) <= 2;
    record_.check(name + " centred on its monitor",
                  std::string(extents ? "frame" : "client (no frame extents)") + " at " +
                      at(want.x, want.y) + " +-2 px on the monitor " + where(monitor),
                  (extents ? "frame " : "client ") + where(seen), centred);
}

testx::Geometry Tour::shotArea() const {
    return around(frame_, 40, x_.screenWidth(), x_.screenHeight());
}

bool Tour::startProgram() {
    progress(1, "start menutest in a fresh folder and wait for its dialog");
    folder_ = options_.out / "program";
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    const auto exe = besideMe("menutest");
    // The pointer rests on the last monitor: with two, the dialog belongs on that one, not on
    // the primary.
    const auto monitors = x_.monitors();
    const testx::Geometry pointerMonitor = monitors.back();
    x_.movePointer(pointerMonitor.x + pointerMonitor.width / 2,
                   pointerMonitor.y + pointerMonitor.height / 2);
    desktopBefore_ = Image::grab(x_, {0, 0, x_.screenWidth(), x_.screenHeight()});
    const std::string wm = x_.windowManager();
    record_.timing("desktop",
                   (wm.empty() ? "no window manager" : "window manager " + wm) +
                       (x_.compositing() ? ", compositing manager" : "") + ", " +
                       std::to_string(monitors.size()) + " monitor(s)",
                   std::to_string(x_.screenWidth()) + "x" + std::to_string(x_.screenHeight()) +
                       " screen, depth " + std::to_string(x_.depth()));
    started_ = Clock::now();
    startedWall_ = wallNow();
    program_ =
        std::make_unique<testx::Child>(std::vector<std::string>{exe.string()}, folder_.string());
    std::optional<testx::Window> dialog;
    testx::Geometry area;
    const bool shown = testx::XServer::waitFor(
        [&] {
            dialog = x_.findMapped(kTitle);
            if (!dialog) {
                return false;
            }
            // The dialog's two children: the menu bar strip on top, the drawing area below.
            std::vector<testx::Geometry> parts;
            for (auto w : x_.mappedChildren(*dialog)) {
                parts.push_back(x_.geometry(w));
            }
            if (parts.size() < 2) {
                return false;
            }
            std::sort(parts.begin(), parts.end(),
                      [](const auto& a, const auto& b) { return a.height < b.height; });
            bar_ = parts.front();
            area = parts.back();
            // Painted: the gradient's first colour at the drawing area's lower left.
            return testx::near(x_.pixel(area.x, area.y + area.height - 1), 6, 190, 225, 6);
        },
        10s);
    const double startS = elapsedS(started_);
    paintedWall_ = wallNow();
    if (!record_.check("dialog \"Testing Menu Creation\" shown and painted", "within 10 s",
                       shown ? seconds(startS) : "not shown", shown)) {
        return false;
    }
    record_.timing("start-up to dialog painted", millis(startS * 1000));
    dialogWindow_ = *dialog;
    // A window manager may still be drawing the frame and moving the window into place.
    std::this_thread::sleep_for(wm.empty() ? 0ms : 300ms);
    dialog_ = x_.geometry(dialogWindow_);
    frame_ = x_.frame(dialogWindow_);
    monitor_ = pointerMonitor;
    record_.check("dialog 800x600", "client 800x600", where(dialog_),
                  dialog_.width == 800 && dialog_.height == 600);
    checkCentred("dialog", dialogWindow_, monitor_);
    if (monitors.size() > 1) {
        const bool within = std::any_of(monitors.begin(), monitors.end(),
                                        [&](const auto& m) { return testx::contains(m, frame_); });
        record_.check("dialog within one monitor",
                      "frame inside one of " + std::to_string(monitors.size()) + " monitors",
                      "frame " + where(frame_), within);
    }
    // Keys go to the focused window: take the focus as a person would before typing.
    const auto asked = Clock::now();
    const bool active = activateDialog("after start-up");
    record_.check("the dialog has the keyboard focus", "within 2 s of being shown",
                  active ? seconds(elapsedS(asked)) : "no focus", active);
    screenshot("01-dialog.png", "The dialog after start-up.", shotArea());
    return true;
}

// ---- Step 2 ----------------------------------------------------------------------------------

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
    // Up: mapped, and painted as far as its red frame, polled every 2 ms.
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
                   is(x_.pixel(tip.geometry.x + 1, tip.geometry.y + 1), kFrame);
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
    progress(2, "open \"Menu Test\" and rest on each entry");
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

// ---- Step 3 ----------------------------------------------------------------------------------

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
    progress(3, "move the pointer 8 px (the tip stays), then 9 px (it goes)");
    stayThenLeave(lastTip_, lastPointer_, "Other option");
    return true;
}

// ---- Step 4 ----------------------------------------------------------------------------------

bool Tour::tipsOfUpdates() {
    progress(4, "open \"Updates\", rest on its entries, leave with Escape");
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

// ---- Step 5 ----------------------------------------------------------------------------------

std::optional<testx::Window> Tour::confirmBox() const {
    std::optional<testx::Window> box;
    testx::XServer::waitFor(
        [&] {
            box = x_.findMapped("Confirm");
            return box.has_value();
        },
        3s);
    return box;
}

bool Tour::chooseEntries() {
    progress(5, "choose \"Reserve\" with the pointer and \"Any Other Thing\" by keyboard");
    if (!record_.check("\"Menu Test\" opens again", "one menu open", "", openMenuByPointer())) {
        return false;
    }
    const Point reserve = entry(0, 2, 3);
    x_.click(reserve.x, reserve.y);
    const auto box = confirmBox();
    if (!record_.check("choosing \"Reserve\" shows the box \"Execute Something\"",
                       "a window \"Confirm\" within 3 s", box ? "shown" : "not shown",
                       box.has_value())) {
        return false;
    }
    std::this_thread::sleep_for(150ms); // painted
    const testx::Geometry g = x_.geometry(*box);
    record_.check("choosing closes the menus", "0 menus open",
                  std::to_string(menuprobe::openMenus(x_).size()) + " menus",
                  menuprobe::openMenus(x_).empty());
    checkCentred("the box", *box, monitor_);
    // A box that asks something has the keyboard at once; nobody should have to click it.
    const bool boxFocused = testx::XServer::waitFor([&] { return x_.hasFocus(*box); }, 1s);
    record_.check("the box has the keyboard focus", "within 1 s of being shown",
                  boxFocused ? "focused" : "not focused", boxFocused);
    if (!boxFocused) {
        x_.activate(*box);
    }
    // The message: dark text in the upper half of the box.
    const Image top = Image::grab(x_, {g.x, g.y, g.width, g.height / 2});
    int dark = 0;
    for (int j = 0; j < top.height(); ++j) {
        for (int i = 0; i < top.width(); ++i) {
            const testx::Pixel p = top.at(i, j);
            dark += p.r < 0x80 && p.g < 0x80 && p.b < 0x80 ? 1 : 0;
        }
    }
    record_.check("the box shows its message", ">= 50 dark text pixels above the button",
                  std::to_string(dark) + " px", dark >= 50);
    screenshot("07-confirm.png", "The box after choosing \"Reserve\".", shotArea());
    x_.tapKey(XK_Return);
    const bool dismissed =
        testx::XServer::waitFor([&] { return !x_.findMapped("Confirm").has_value(); }, 2s);
    record_.check("Enter dismisses the box", "box gone within 2 s", dismissed ? "gone" : "shown",
                  dismissed);

    // By keyboard: Alt+M opens the menu, U the submenu, A chooses "Any Other Thing".
    std::this_thread::sleep_for(100ms);
    activateDialog("before Alt+M");
    x_.tapKey(XK_m, XK_Alt_L);
    const bool menu = menusOpen(1);
    x_.tapKey(XK_u);
    const bool sub = menusOpen(2);
    x_.tapKey(XK_a);
    const auto box2 = confirmBox();
    record_.check("Alt+M, U, A chooses \"Any Other Thing\"", "menu, submenu, then the box",
                  std::string(menu ? "menu" : "no menu") + ", " + (sub ? "submenu" : "no submenu") +
                      ", " + (box2 ? "box" : "no box"),
                  menu && sub && box2.has_value());
    if (!box2) {
        return false;
    }
    std::this_thread::sleep_for(100ms);
    if (!testx::XServer::waitFor([&] { return x_.hasFocus(*box2); }, 1s)) {
        record_.check("the second box has the keyboard focus", "within 1 s of being shown",
                      "not focused", false);
        x_.activate(*box2);
    }
    x_.tapKey(XK_Escape);
    const bool closed =
        testx::XServer::waitFor([&] { return !x_.findMapped("Confirm").has_value(); }, 2s);
    std::this_thread::sleep_for(300ms);
    record_.check("Escape closes the box and leaves the program running", "box gone, running",
                  std::string(closed ? "gone" : "shown") +
                      (program_->running() ? ", running" : ", ended"),
                  closed && program_->running());
    return closed && program_->running();
}

// ---- Step 6 ----------------------------------------------------------------------------------

bool Tour::endProgram() {
    progress(6, "press Escape; look at the exit code and the two captures");
    const pid_t pid = program_->pid();
    const auto hwm = statusKb(pid, "VmHWM");
    activateDialog("before the last Escape");
    const double escapeWall = wallNow();
    x_.tapKey(XK_Escape);
    const auto pressed = Clock::now();
    const auto status = program_->wait(10s);
    const double exitS = elapsedS(pressed);
    // A program still running: say whether its dialog is still up and has the keyboard.
    const auto stillRunning = [&] {
        const auto dialog = x_.findMapped(kTitle);
        return std::string("still running; ") + (!dialog ? "dialog gone"
                                                 : x_.hasFocus(*dialog)
                                                     ? "dialog shown with the focus"
                                                     : "dialog shown without the focus");
    };
    record_.check("Escape ends the program with exit code 0", "exit code 0 within 10 s",
                  !status           ? stillRunning()
                  : !status->exited ? "signal " + std::to_string(status->code)
                                    : "exit code " + std::to_string(status->code),
                  status && status->exited && status->code == 0);
    if (!status) {
        return false;
    }
    record_.timing("Escape to exit", millis(exitS * 1000));
    if (hwm) {
        record_.timing("peak memory (VmHWM before Escape)", fixed(*hwm / 1024.0, 1) + " MB");
    }
    record_.timing("peak memory (wait4 maxrss)", fixed(program_->peakRssKb() / 1024.0, 1) + " MB");
    const std::string stderrText = program_->stderrText();
    record_.check("nothing written to stderr", "empty",
                  stderrText.empty() ? "empty" : stderrText.substr(0, 120), stderrText.empty());

    const auto menus = menuprobe::openMenus(x_).size();
    const auto tips = menuprobe::tips(x_).size();
    record_.check("no tip and no menu window left after the end", "0 tips, 0 menus, no dialog",
                  std::to_string(tips) + " tips, " + std::to_string(menus) + " menus" +
                      (x_.findMapped(kTitle) ? ", dialog" : ""),
                  tips == 0 && menus == 0 && !x_.findMapped(kTitle));

    // The desktop as it is once the dialog is gone, frame and all: what the last capture
    // must show. A compositing manager repaints a moment after the frame goes.
    testx::XServer::waitFor([&] { return !x_.findMapped(kTitle).has_value(); }, 2s);
    std::this_thread::sleep_for(x_.compositing() ? 500ms : 100ms);
    const int sw = x_.screenWidth(), sh = x_.screenHeight();
    const testx::Geometry area = around(frame_, 8, sw, sh); // shadows reach past the frame
    const Image desktopAfter = Image::grab(x_, area);
    const std::string screen = std::to_string(sw) + "x" + std::to_string(sh);
    const struct {
        const char* file;
        bool first;
    } captures[] = {{"FirstDeskPS.bmp", true}, {"LastDeskPS.bmp", false}};
    for (const auto& c : captures) {
        const auto path = folder_ / c.file;
        const Bmp bmp = Bmp::read(path);
        const std::string name = c.file;
        const bool sized = bmp.valid() && bmp.width == sw && bmp.height == sh;
        record_.check(name + ": screen-sized BMP", screen,
                      bmp.valid() ? std::to_string(bmp.width) + "x" + std::to_string(bmp.height)
                                  : "missing or not a 24-bit BMP",
                      sized);
        if (!sized || !desktopBefore_) {
            continue;
        }
        // The first capture against the screen just before the start, the last against the
        // screen after the end, over the dialog's frame and a margin.
        const Comparison cmp = compare(bmp, c.first ? *desktopBefore_ : desktopAfter, area);
        const std::string seen = std::to_string(cmp.differ) + " of " + std::to_string(cmp.points) +
                                 " points differ" +
                                 (cmp.differ ? " (first " + cmp.firstDiffer + ")" : "");
        const double when = modified(path).value_or(0);
        if (c.first) {
            // Written before the dialog was painted (file times are coarse: allow 10 ms).
            const bool before = when <= paintedWall_ + 0.01;
            record_.check(name + ": the desktop before the dialog showed",
                          "no trace of the dialog: every point of the frame's area as the screen "
                          "showed it before the start; written before the dialog was painted",
                          seen + "; written " + millis((when - startedWall_) * 1000) +
                              " after start",
                          cmp.points > 0 && cmp.differ == 0 && before);
            record_.timing("first capture written", millis((when - startedWall_) * 1000),
                           "after the program started");
        } else {
            const bool after = when >= escapeWall - 0.01;
            record_.check(name + ": the desktop once the dialog was gone",
                          "no trace of the dialog or its frame: every point of the frame's area "
                          "as the screen shows it after the end; written after Escape",
                          seen + "; written " + millis((when - escapeWall) * 1000) +
                              " after Escape",
                          cmp.points > 0 && cmp.differ == 0 && after);
            record_.timing("last capture written", millis((when - escapeWall) * 1000),
                           "after Escape");
        }
    }
    const Bmp last = Bmp::read(folder_ / "LastDeskPS.bmp");
    if (last.valid() && last.width == sw && last.height == sh) {
        // What the last capture holds where the dialog stood, for a person to look at.
        const Image crop = Image::of(around(frame_, 40, sw, sh),
                                     [&](int px, int py) { return last.screenPixel(px, py); });
        if (crop.savePng((options_.out / "08-last-capture.png").string())) {
            record_.shot("08-last-capture.png",
                         "LastDeskPS.bmp around where the dialog stood: the desktop alone.");
        }
    }
    return true;
}

// ---- Step 7 ----------------------------------------------------------------------------------

bool Tour::repaintRectangle() {
    progress(7, "repaint the desktop rectangle (10, 20)-(110, 70) through menutest-repaint");
    // A window of the tour's own over the rectangle, with its origin on the screen's.
    ExposeWindow cover(x_.display(), 0, 0, 300, 200);
    testx::XServer::waitFor([&] { return cover.drain().events > 0; }, 2s); // first map
    testx::Child repaint({besideMe("menutest-repaint").string()},
                         folder_.empty() ? options_.out.string() : folder_.string());
    const auto status = repaint.wait(10s);
    record_.check("ApiInvalidateRect_(NIL, 10, 20, 70, 110) returns true",
                  "menutest-repaint exit code 0 (true)",
                  !status ? "still running"
                          : "exit code " + std::to_string(status->code) +
                                (repaint.stderrText().empty() ? "" : ": " + repaint.stderrText()),
                  status && status->exited && status->code == 0);
    ExposeWindow::Exposed seen;
    testx::XServer::waitFor(
        [&] {
            const auto more = cover.drain();
            seen.events += more.events;
            seen.x1 = std::min(seen.x1, more.x1);
            seen.y1 = std::min(seen.y1, more.y1);
            seen.x2 = std::max(seen.x2, more.x2);
            seen.y2 = std::max(seen.y2, more.y2);
            return seen.events > 0;
        },
        1s);
    const bool exact =
        seen.events > 0 && seen.x1 == 10 && seen.y1 == 20 && seen.x2 == 110 && seen.y2 == 70;
    record_.check("the covering window is exposed over the rectangle",
                  "Expose events spanning (10, 20)-(110, 70)",
                  seen.events ? std::to_string(seen.events) + " events spanning " +
                                    at(seen.x1, seen.y1) + "-" + at(seen.x2, seen.y2)
                              : "no Expose event",
                  exact);
    return exact;
}

} // namespace tour
