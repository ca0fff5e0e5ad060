// host::Error formats one readable line: "operation: description (arg, arg)".
#include <host/error.h>

namespace host {
namespace {
std::string format(const std::string& op, const std::string& what,
                   const std::vector<std::string>& args) {
    std::string line = op + ": " + what;
    if (!args.empty()) {
        line += " (";
        for (std::size_t i = 0; i < args.size(); ++i) {
            line += (i ? ", " : "") + args[i];
        }
        line += ")";
    }
    return line;
}
} // namespace

Error::Error(std::string operation, std::string description, std::vector<std::string> args)
    : std::runtime_error(format(operation, description, args)), operation_(std::move(operation)),
      description_(std::move(description)), args_(std::move(args)) {}

} // namespace host
