// menutest-repaint: asks the window library beside it to repaint the desktop rectangle with
// left 10, top 20, bottom 70, right 110. Exit code 0 when the call gave true, 3 when false,
// 1 on an error, 2 on an unknown option.
#include <invalidate/invalidate.h>

#include <options.h>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

constexpr const char* kUsage =
    "usage: menutest-repaint [--help | --version]\n"
    "Asks the window library beside it to repaint the desktop rectangle with left 10, top 20,\n"
    "bottom 70 and right 110, prints the result and exits 0 when it was true, 3 when false.\n"
    "  --help      print this text and exit\n"
    "  --version   print the version and exit\n";

} // namespace

int main(int argc, char** argv) {
    if (const auto code =
            menutip::AnswerOptions({.name = "menutest-repaint", .usage = kUsage}, argc, argv)) {
        return *code;
    }
    try {
        const bool ok = Invalidate::ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110);
        std::printf("ApiInvalidateRect_(NIL, 10, 20, 70, 110) = %s\n", ok ? ".T." : ".F.");
        return ok ? 0 : 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "menutest-repaint: %s\n", e.what());
        return 1;
    }
}
