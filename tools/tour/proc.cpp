// Reading /proc/<pid>/stat and /proc/<pid>/status.
#include "proc.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace tour {

// user + system time of a process in clock ticks, from /proc/<pid>/stat.
std::optional<long long> cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')'); // the command name may hold spaces
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14) {
            utime = std::stoll(field);
        } else if (n == 15) {
            stime = std::stoll(field);
        }
    }
    return utime + stime;
}

// A line of /proc/<pid>/status in kB, e.g. VmHWM.
std::optional<long> statusKb(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return std::nullopt;
}

} // namespace tour
