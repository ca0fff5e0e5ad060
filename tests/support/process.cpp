// Child processes and temporary folders for tests.
#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace testx {

Child::Child(const std::vector<std::string>& argv, const std::string& cwd,
             const std::map<std::string, std::string>& env) {
    char tmpl[] = "/tmp/child-stderr.XXXXXX";
    const int errFd = ::mkstemp(tmpl);
    if (errFd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    errPath_ = tmpl;
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(errFd);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::dup2(errFd, 2);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        if (::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        for (const auto& [k, v] : env) {
            if (v.empty()) {
                ::unsetenv(k.c_str());
            } else {
                ::setenv(k.c_str(), v.c_str(), 1);
            }
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(errFd);
}

Child::~Child() {
    if (!status_) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::milliseconds(5000));
    }
    ::unlink(errPath_.c_str());
}

bool Child::running() {
    return !wait(std::chrono::milliseconds(0)).has_value();
}

std::optional<ExitStatus> Child::wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!status_) {
        int st = 0;
        struct rusage ru {};
        const pid_t r = ::wait4(pid_, &st, WNOHANG, &ru);
        if (r == pid_) {
            peakRssKb_ = ru.ru_maxrss;
            status_ =
                WIFEXITED(st) ? ExitStatus{true, WEXITSTATUS(st)} : ExitStatus{false, WTERMSIG(st)};
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

std::string Child::stderrText() const {
    std::ifstream in(errPath_);
    return {std::istreambuf_iterator<char>(in), {}};
}

TempFolder::TempFolder() {
    char tmpl[] = "/tmp/menutest-test.XXXXXX";
    if (!::mkdtemp(tmpl)) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace testx
