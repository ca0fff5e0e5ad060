// The tour: the real menutest driven as a person would, one step at a time, with what each
// step saw kept in a Record.
#pragma once

#include "record.h"
#include "screen.h"
#include "support/process.h"
#include "support/xserver.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tour {

struct Options {
    std::filesystem::path out = "tour-out";
    bool timingBounds = true;
};

using Clock = std::chrono::steady_clock;

struct Size {
    int width = 0;
    int height = 0;
};

class Tour {
  public:
    // `tipSizes`: the size each tip text should get (text box plus 4 by 3 on each side).
    Tour(Options options, std::string where, std::map<std::string, Size> tipSizes);
    // Runs every step; true when every enforced check passed.
    bool run();
    const Record& record() const { return record_; }

  private:
    // The steps, in order; each gives false when the ones after it cannot run.
    bool startProgram();
    bool tipsOfTheMenu();
    bool stayAndLeave();
    bool tipsOfUpdates();
    bool chooseEntries();
    bool endProgram();
    bool repaintRectangle();

    // A tip as the tour saw it come up.
    struct Tip {
        testx::Window window = 0;
        testx::Geometry geometry;
        double delayS = 0;
    };
    struct Point {
        int x = 0;
        int y = 0;
    };

    // One line on stderr: the step's name and what it does.
    void progress(const char* step, const std::string& what) const;
    // Gives the dialog the keyboard as a person would by clicking its title (a window
    // manager's _NET_ACTIVE_WINDOW, or the focus itself on a bare server).
    bool activateDialog(const std::string& why);
    // Where a window (its frame, when the window manager gives extents) must stand: centred on
    // `monitor`; checked within 2 px.
    void checkCentred(const std::string& name, testx::Window w, const testx::Geometry& monitor);
    testx::Geometry shotArea() const;
    bool openMenuByPointer();
    bool menusOpen(std::size_t count);
    Point entry(std::size_t level, int n, int count) const;
    std::optional<Tip> markAndWaitForTip(Point at, const std::string& label);
    void checkTip(const Tip& tip, Point pointer, const std::string& label, const std::string& text);
    void stayThenLeave(const Tip& tip, Point pointer, const std::string& label);
    void measureCpuWhileTipShows(const Tip& tip);
    bool tipShowing(testx::Window w) const;
    bool noTip() const;
    std::optional<testx::Window> confirmBox() const;
    void screenshot(const std::string& file, const std::string& caption, testx::Geometry g);
    double sinceStart(Clock::time_point t) const;

    Options options_;
    std::string where_;
    Record record_;
    testx::XServer x_;
    std::filesystem::path folder_; // where menutest runs and leaves its captures
    std::unique_ptr<testx::Child> program_;
    testx::Window dialogWindow_ = 0;
    testx::Geometry dialog_;  // the client
    testx::Geometry frame_;   // what the user sees: the client and the window manager's frame
    testx::Geometry monitor_; // the monitor the dialog belongs on
    testx::Geometry bar_;
    std::optional<Image> desktopBefore_; // the whole screen just before the program started
    std::map<std::string, Size> tipSizes_;
    Clock::time_point started_;
    double startedWall_ = 0; // wall-clock seconds, to compare with file times
    double paintedWall_ = 0;
    bool cpuMeasured_ = false;
    Tip lastTip_; // the last tip of tipsOfTheMenu, for stayAndLeave
    Point lastPointer_;
};

} // namespace tour
