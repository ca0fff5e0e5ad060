// --help, --version and unknown options for the menutip commands, answered before anything
// opens a display.
#include "options.h"

#include <menutip/version.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace menutip {

namespace {

// A Windows GUI program starts with no console: when its standard output goes nowhere, it
// writes to the console of the command that started it, if there is one.
void reachConsole() {
#ifdef _WIN32
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        // Where the console cannot be opened, the text goes nowhere, as it would have anyway.
        std::FILE* reopened = nullptr;
        static_cast<void>(freopen_s(&reopened, "CONOUT$", "w", stdout));
        static_cast<void>(freopen_s(&reopened, "CONOUT$", "w", stderr));
    }
#endif
}

int write(std::FILE* to, std::string_view text, int code) {
    reachConsole();
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
    return code;
}

} // namespace

int PrintHelp(const Command& command) {
    return write(stdout, command.usage, 0);
}

int PrintVersion(const Command& command) {
    reachConsole();
    std::printf("%.*s %s\n", static_cast<int>(command.name.size()), command.name.data(), kVersion);
    std::fflush(stdout);
    return 0;
}

int RejectUsage(const Command& command) {
    return write(stderr, command.usage, 2);
}

std::optional<int> AnswerOptions(const Command& command, int argc, const char* const* argv) {
    if (argc <= 1) {
        return std::nullopt;
    }
    const std::string_view arg = argv[1];
    if (argc == 2 && arg == "--help") {
        return PrintHelp(command);
    }
    if (argc == 2 && arg == "--version") {
        return PrintVersion(command);
    }
    return RejectUsage(command);
}

} // namespace menutip
