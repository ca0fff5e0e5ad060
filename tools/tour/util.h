// Small helpers the tour's steps share: the program's title, the tip's colours, clocks and
// how places and sizes are written in the report.
#pragma once

#include "tour.h"

#include <sys/stat.h>
#include <time.h>

#include <sstream>
#include <string>

namespace tour {

inline constexpr const char* kTitle = "Testing Menu Creation";

// The tip's three colours.
inline constexpr testx::Pixel kFill{255, 255, 180};
inline constexpr testx::Pixel kFrame{255, 0, 0};
inline constexpr testx::Pixel kInk{40, 25, 115};

inline bool is(const testx::Pixel& p, const testx::Pixel& want) {
    return testx::near(p, want.r, want.g, want.b, 3);
}

inline double elapsedS(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

inline double wallNow() {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The file's modification time in wall-clock seconds; nullopt when it is missing.
inline std::optional<double> modified(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
}

inline std::string where(const testx::Geometry& g) {
    std::ostringstream s;
    s << g.width << "x" << g.height << " at (" << g.x << ", " << g.y << ")";
    return s.str();
}

inline std::string at(int x, int y) {
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

} // namespace tour
