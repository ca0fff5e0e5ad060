// What /proc tells of a running process: its CPU time and its memory, for the tour's timings.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace tour {

// user + system time in clock ticks (/proc/<pid>/stat); nullopt when the process is gone.
std::optional<long long> cpuTicks(pid_t pid);
// A line of /proc/<pid>/status in kB, e.g. VmHWM.
std::optional<long> statusKb(pid_t pid, const std::string& key);

} // namespace tour
