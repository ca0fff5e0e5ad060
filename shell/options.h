// The options every menutip command shares: --help prints the usage on stdout, --version prints
// "<name> <version>"; anything else it does not know prints the usage on stderr and exits 2.
#pragma once

#include <optional>
#include <string_view>

namespace menutip {

struct Command {
    std::string_view name;  // as printed by --version
    std::string_view usage; // the whole usage text, ending with a newline
};

// For a command whose only options are --help and --version, given main's arguments: nothing
// when there is no argument (run as usual), else the exit code once it has been answered.
std::optional<int> AnswerOptions(const Command& command, int argc, const char* const* argv);

// The three answers, for a command that reads further options of its own.
int PrintHelp(const Command& command);    // usage on stdout; 0
int PrintVersion(const Command& command); // "<name> <version>" on stdout; 0
int RejectUsage(const Command& command);  // usage on stderr; 2

} // namespace menutip
