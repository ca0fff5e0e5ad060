// What a tour run found: checks against bounds, timings, screenshots, and how they are printed
// as a table on the terminal and written as report.md.
#pragma once

#include <string>
#include <vector>

namespace tour {

struct Check {
    std::string name;
    std::string bound;    // what passing means, e.g. "0.45 s to 0.7 s"
    std::string measured; // the value seen, e.g. "0.503 s"
    bool passed = false;
    bool enforced = true; // timing bounds are reported only in sanitizer builds
};

struct Timing {
    std::string name;
    std::string value;
    std::string note;
};

struct Shot {
    std::string file; // relative to the output folder
    std::string caption;
};

class Record {
  public:
    explicit Record(bool timingBounds) : timingBounds_(timingBounds) {}

    // Adds a check and gives back whether it passed (true when its bound is not enforced).
    bool check(std::string name, std::string bound, std::string measured, bool passed);
    // A check on a time or load bound: only reported when timing bounds are off.
    bool timingCheck(std::string name, std::string bound, std::string measured, bool passed);
    void timing(std::string name, std::string value, std::string note = "");
    void shot(std::string file, std::string caption);

    bool allPassed() const;
    std::string table() const;                          // for the terminal
    std::string markdown(const std::string& how) const; // report.md

  private:
    bool timingBounds_;
    std::vector<Check> checks_;
    std::vector<Timing> timings_;
    std::vector<Shot> shots_;
};

// "0.503 s", "12.4 ms": fixed decimals with a unit.
std::string seconds(double s);
std::string millis(double ms);
std::string fixed(double v, int decimals);

} // namespace tour
