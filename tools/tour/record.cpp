// Printing a tour's record: an aligned table for the terminal, Markdown for the report.
#include "record.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace tour {

bool Record::check(std::string name, std::string bound, std::string measured, bool passed) {
    checks_.push_back({std::move(name), std::move(bound), std::move(measured), passed, true});
    return passed;
}

bool Record::timingCheck(std::string name, std::string bound, std::string measured, bool passed) {
    checks_.push_back(
        {std::move(name), std::move(bound), std::move(measured), passed, timingBounds_});
    return passed || !timingBounds_;
}

void Record::timing(std::string name, std::string value, std::string note) {
    timings_.push_back({std::move(name), std::move(value), std::move(note)});
}

void Record::shot(std::string file, std::string caption) {
    shots_.push_back({std::move(file), std::move(caption)});
}

bool Record::allPassed() const {
    return std::all_of(checks_.begin(), checks_.end(),
                       [](const Check& c) { return c.passed || !c.enforced; });
}

namespace {

std::string verdictOf(const Check& c) {
    if (c.passed) {
        return "passed";
    }
    return c.enforced ? "FAILED" : "over (not enforced)";
}

std::string pad(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// Table cells must not break the Markdown table.
std::string cell(std::string s) {
    for (std::size_t at = s.find('|'); at != std::string::npos; at = s.find('|', at + 2)) {
        s.replace(at, 1, "\\|");
    }
    return s;
}

} // namespace

std::string Record::table() const {
    std::size_t wName = 5, wBound = 5, wMeasured = 8;
    for (const auto& c : checks_) {
        wName = std::max(wName, c.name.size());
        wBound = std::max(wBound, c.bound.size());
        wMeasured = std::max(wMeasured, c.measured.size());
    }
    std::ostringstream out;
    out << "\nChecks\n"
        << pad("result", 8) << "  " << pad("check", wName) << "  " << pad("measured", wMeasured)
        << "  bound\n";
    for (const auto& c : checks_) {
        out << pad(verdictOf(c), 8) << "  " << pad(c.name, wName) << "  "
            << pad(c.measured, wMeasured) << "  " << c.bound << "\n";
    }
    std::size_t wTiming = 6;
    for (const auto& t : timings_) {
        wTiming = std::max(wTiming, t.name.size());
    }
    out << "\nTimings\n";
    for (const auto& t : timings_) {
        out << "  " << pad(t.name, wTiming) << "  " << pad(t.value, 12) << "  " << t.note << "\n";
    }
    const auto failed = std::count_if(checks_.begin(), checks_.end(),
                                      [](const Check& c) { return !c.passed && c.enforced; });
    out << "\n"
        << checks_.size() - static_cast<std::size_t>(failed) << " of " << checks_.size()
        << " checks passed" << (failed ? "" : ": the tour passed") << "\n";
    return out.str();
}

std::string Record::markdown(const std::string& how) const {
    std::ostringstream out;
    out << "# menutest: the tour\n\n"
        << "Verdict: **" << (allPassed() ? "passed" : "FAILED") << "** (" << how << ")\n\n"
        << "## Checks\n\n| result | check | measured | bound |\n|---|---|---|---|\n";
    for (const auto& c : checks_) {
        out << "| " << verdictOf(c) << " | " << cell(c.name) << " | " << cell(c.measured) << " | "
            << cell(c.bound) << " |\n";
    }
    out << "\n## Timings\n\n| what | value | note |\n|---|---|---|\n";
    for (const auto& t : timings_) {
        out << "| " << cell(t.name) << " | " << cell(t.value) << " | " << cell(t.note) << " |\n";
    }
    out << "\n## Screenshots\n";
    for (const auto& s : shots_) {
        out << "\n" << s.caption << "\n\n![" << s.caption << "](" << s.file << ")\n";
    }
    return out.str();
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string seconds(double s) {
    return fixed(s, 3) + " s";
}

std::string millis(double ms) {
    return fixed(ms, 1) + " ms";
}

} // namespace tour
