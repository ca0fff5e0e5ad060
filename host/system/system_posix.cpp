// The system services on POSIX systems: mkstemp, rename and unlink.
#include "system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno> // program_invocation_short_name

namespace host::system {

std::string ExecutableName() {
    return program_invocation_short_name;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

struct ReplacingFile::State {
    std::string target;
    std::string path;
    int fd = -1;
    bool created = false;
    bool committed = false;
    int error = 0;
};

ReplacingFile::ReplacingFile(const std::string& target) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = target;
    s.path = target + ".XXXXXX";
    s.fd = ::mkstemp(s.path.data());
    s.created = s.fd >= 0;
    s.error = s.created ? 0 : errno;
}

ReplacingFile::~ReplacingFile() {
    if (state_->fd >= 0) {
        ::close(state_->fd);
    }
    if (state_->created && !state_->committed) {
        ::unlink(state_->path.c_str());
    }
}

bool ReplacingFile::open() const {
    return state_->fd >= 0;
}

bool ReplacingFile::write(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t w = ::write(state_->fd, bytes, count);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            state_->error = errno; // a full disk: ENOSPC
            return false;
        }
        bytes += w;
        count -= static_cast<std::size_t>(w);
    }
    return true;
}

bool ReplacingFile::commit() {
    State& s = *state_;
    // A picture is read by image viewers: give it the usual permissions, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(s.fd, 0666 & ~mask);
    const bool closed = ::close(s.fd) == 0;
    s.fd = -1;
    s.committed = closed && ::rename(s.path.c_str(), s.target.c_str()) == 0;
    s.error = s.committed ? 0 : errno; // a folder of that name: EISDIR
    return s.committed;
}

int ReplacingFile::error() const {
    return state_->error;
}

} // namespace host::system
