// The program's name as the runtime shows it: given by the start-up record, or the running
// executable's own.
#include "program.h"

#include "system/system.h"

#include <host/application.h>

#include <mutex>

namespace host {
namespace {

std::mutex nameMutex;
std::string givenName;

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
    std::string name = system::ExecutableName();
    return name.empty() ? std::string("program") : name;
}

} // namespace host
