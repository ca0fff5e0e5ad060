// The program's name as the runtime shows it: given by the start-up record, or the running
// executable's own.
#include "program.h"

#include <host/application.h>

#include <mutex>

#if defined(_WIN32)
#include <cstdlib>
#else
#include <cerrno> // program_invocation_short_name
#endif

namespace host {
namespace {

std::mutex nameMutex;
std::string givenName;

std::string executableName() {
#if defined(_WIN32)
    std::string path = _pgmptr ? _pgmptr : "";
    path = path.substr(path.find_last_of("\\\\/") + 1);
    if (const auto dot = path.rfind('.'); dot != std::string::npos) {
        path.resize(dot);
    }
    return path;
#else
    return program_invocation_short_name;
#endif
}

} // namespace

void SetProgramName(std::string name) {
    const std::lock_guard lock(nameMutex);
    givenName = std::move(name);
}

std::string ProgramName() {
    {
        const std::lock_guard lock(nameMutex);
        if (!givenName.empty()) {
            return givenName;
        }
    }
    std::string name = executableName();
    return name.empty() ? std::string("program") : name;
}

} // namespace host
