// The few services of the operating system that the platform-neutral runtime needs: the
// running executable's name, removing a file, and replacing one whole. One back end per
// platform (system_posix.cpp, system_win32.cpp), chosen by the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace host::system {

// The running executable's name without folder or extension; empty when it cannot be told.
std::string ExecutableName();

// Removes a file; false when it could not (a missing file included).
bool RemoveFile(const std::string& path);

// A file written in full under a temporary name in the target's folder, then put in place in
// one step, so that readers see the old file or the whole new one. A symbolic link of the
// target's name is replaced, its target never written. The temporary file is removed when the
// object goes without a successful commit.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string& target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool open() const;
    bool write(const std::uint8_t* bytes, std::size_t count);
    // Closes the temporary file and moves it over the target.
    bool commit();
    // Why the file could not be made, written or put in place (an errno value), 0 when it could.
    int error() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace host::system
