// A child process for tests that run a program as a user would: own folder, own environment,
// stderr captured, waited for with a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testx {

struct ExitStatus {
    bool exited = false; // ended through exit(), not a signal
    int code = -1;       // exit code, or the signal number when !exited
};

class Child {
  public:
    // Starts `argv` in `cwd`; `env` entries override the environment (an empty value unsets).
    Child(const std::vector<std::string>& argv, const std::string& cwd,
          const std::map<std::string, std::string>& env = {});
    ~Child(); // kills and reaps a child that is still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the end, at most `limit`; nullopt when the child still runs.
    std::optional<ExitStatus> wait(std::chrono::milliseconds limit);
    std::string stderrText() const; // what the child wrote to stderr (after it ended)
    long peakRssKb() const { return peakRssKb_; }

  private:
    pid_t pid_ = -1;
    std::string errPath_;
    std::optional<ExitStatus> status_;
    long peakRssKb_ = 0;
};

// A fresh folder under /tmp, removed with its contents at the end of the scope.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace testx
