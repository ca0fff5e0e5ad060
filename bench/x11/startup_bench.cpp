// From process start to the dialog mapped and painted, and the peak resident memory of a whole
// run (start, dialog, Escape, last capture), over several runs of the real program.
#include "support/process.h"
#include "support/xserver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main() {
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "startup_bench: needs an X server ($DISPLAY)\n");
        return 2;
    }
    testx::XServer x;
    const int runs = 15;
    std::vector<double> startMs;
    long peakKb = 0;
    for (int i = 0; i < runs; ++i) {
        testx::TempFolder folder;
        const auto t0 = std::chrono::steady_clock::now();
        testx::Child child({MENUTEST_PATH}, folder.path());
        bool shown = false;
        // Painted: the drawing area's lower left pixel has the gradient's first colour.
        while (!shown && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
            if (auto w = x.findMapped("Testing Menu Creation")) {
                testx::Geometry area;
                for (auto c : x.mappedChildren(*w)) {
                    const auto g = x.geometry(c);
                    area = g.height > area.height ? g : area;
                }
                shown = area.height > 0 &&
                        testx::near(x.pixel(area.x, area.y + area.height - 1), 6, 190, 225, 6);
            }
        }
        const auto t1 = std::chrono::steady_clock::now();
        if (!shown) {
            std::fprintf(stderr, "run %d: the dialog never appeared\n", i);
            return 1;
        }
        startMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        x.tapKey(0xff1b);
        child.wait(std::chrono::seconds(5));
        peakKb = std::max(peakKb, child.peakRssKb());
    }
    std::sort(startMs.begin(), startMs.end());
    std::printf(
        "start to dialog painted: median %.1f ms, min %.1f, max %.1f (%d runs; bound 100 ms)\n",
        startMs[startMs.size() / 2], startMs.front(), startMs.back(), runs);
    std::printf("peak resident memory of a run: %.1f MB (bound 32 MB)\n", peakKb / 1024.0);
    return (startMs[startMs.size() / 2] <= 100 && peakKb <= 32 * 1024) ? 0 : 1;
}
