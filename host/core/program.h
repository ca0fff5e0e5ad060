// Set by a driver's Start from the start-up record; read through host::ProgramName.
#pragma once

#include <string>

namespace host {
void SetProgramName(std::string name);
} // namespace host
