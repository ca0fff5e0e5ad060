// The tour's steps: start menutest, rest on every menu entry and look at its tip, move the
// pointer out of the tip's square, choose entries by pointer and keyboard, end the program and
// look at its captures, and repaint a desktop rectangle through the companion program.
#include "tour.h"

#include "proc.h"
#include "support/bmp.h"
#include "util.h"

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
#include "support/menu_probe.h" // Xlib last: its macros break the headers above
#include <X11/keysym.h>
// clang-format on

namespace tour {

namespace {

using namespace std::chrono_literals;

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

void Tour::progress(const char* step, const std::string& what) const {
    std::fprintf(stderr, "tour [%s] %s\n", step, what.c_str());
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

// ---- startProgram ----------------------------------------------------------------------------

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
    progress("start", "start menutest in a fresh folder and wait for its dialog");
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

// ---- chooseEntries ---------------------------------------------------------------------------

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
    progress("choose", "choose \"Reserve\" with the pointer and \"Any Other Thing\" by keyboard");
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

// ---- endProgram ------------------------------------------------------------------------------

bool Tour::endProgram() {
    progress("end", "press Escape; look at the exit code and the two captures");
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

// ---- repaintRectangle ------------------------------------------------------------------------

bool Tour::repaintRectangle() {
    progress("repaint",
             "repaint the desktop rectangle (10, 20)-(110, 70) through menutest-repaint");
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
