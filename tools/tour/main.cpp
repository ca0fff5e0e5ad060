// menutest-tour: runs menutest as a person would, on $DISPLAY or a private Xvfb, prints a
// table of checks and timings, writes report.md with screenshots, and exits 1 on a failure.
#include "screen.h"
#include "tipsize.h"
#include "tour.h"

#include <options.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: menutest-tour [--out DIR] [--no-timing-bounds] | --help | --version\n"
    "Runs menutest as a person would, on $DISPLAY or a private Xvfb, and checks what it shows.\n"
    "  --out DIR            report and screenshots (default ./tour-out)\n"
    "  --no-timing-bounds   report delays and CPU, check only function\n"
    "  --help               print this text and exit\n"
    "  --version            print the version and exit\n";
constexpr menutip::Command kCommand{.name = "menutest-tour", .usage = kUsage};

// Reads the options; an exit code when the tour should not run (--help, --version, unknown).
std::optional<int> parse(int argc, char** argv, tour::Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (arg == "--no-timing-bounds") {
            options.timingBounds = false;
        } else if (arg == "--help" && argc == 2) {
            return menutip::PrintHelp(kCommand);
        } else if (arg == "--version" && argc == 2) {
            return menutip::PrintVersion(kCommand);
        } else {
            return menutip::RejectUsage(kCommand);
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    tour::Options options;
    if (const auto code = parse(argc, argv, options)) {
        return *code;
    }
    try {
        // The user's display when there is one; otherwise a server of the tour's own.
        std::unique_ptr<tour::PrivateXvfb> xvfb;
        std::string where;
        if (tour::displayAnswers()) {
            where = std::string("the display ") + std::getenv("DISPLAY");
        } else {
            xvfb = std::make_unique<tour::PrivateXvfb>();
            where = "a private Xvfb (" + xvfb->name() + ")";
        }
        std::fprintf(stderr, "tour: menutest on %s; report in %s\n", where.c_str(),
                     options.out.c_str());
        auto sizes = tour::tipSizes(
            {"Tip Explaining the option \"Reserve\"", "Other explanation tip", "Tip for updating"});
        tour::Tour t(options, where, std::move(sizes));
        const bool passed = t.run();
        std::cout << t.record().table();
        std::cout << "report: " << (options.out / "report.md").string() << std::endl;
        return passed ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "menutest-tour: %s\n", e.what());
        return 1;
    }
}
