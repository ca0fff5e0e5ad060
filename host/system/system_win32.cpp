// The system services on Windows: CreateFileW with CREATE_NEW, MoveFileExW and DeleteFileW.
#include "system.h"
#include "utf16.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace host::system {

std::string ExecutableName() {
    std::string path = _pgmptr ? _pgmptr : "";
    path = path.substr(path.find_last_of("\\/") + 1);
    if (const auto dot = path.rfind('.'); dot != std::string::npos) {
        path.resize(dot);
    }
    return path;
}

bool RemoveFile(const std::string& path) {
    const std::wstring wide = ToUtf16(path, BadUtf8::Refuse);
    return !wide.empty() && DeleteFileW(wide.c_str());
}

// The temporary name carries the process and a counter, and CREATE_NEW refuses one that exists.
struct ReplacingFile::State {
    std::wstring target;
    std::wstring path;
    HANDLE file = INVALID_HANDLE_VALUE;
    int error = 0;
};

ReplacingFile::ReplacingFile(const std::string& target) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.target = ToUtf16(target, BadUtf8::Refuse);
    if (s.target.empty()) {
        s.error = EACCES;
        return;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16 && s.file == INVALID_HANDLE_VALUE; ++attempt) {
        s.path = s.target + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                 std::to_wstring(counter++) + L".tmp";
        s.file = CreateFileW(s.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (s.file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (s.file == INVALID_HANDLE_VALUE) {
        s.error = EACCES;
    }
}

ReplacingFile::~ReplacingFile() {
    if (state_->file != INVALID_HANDLE_VALUE) {
        CloseHandle(state_->file);
        DeleteFileW(state_->path.c_str());
    }
}

bool ReplacingFile::open() const {
    return state_->file != INVALID_HANDLE_VALUE;
}

bool ReplacingFile::write(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(state_->file, bytes, chunk, &written, nullptr) || written == 0) {
            state_->error = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool ReplacingFile::commit() {
    State& s = *state_;
    const bool closed = CloseHandle(s.file) != 0;
    s.file = INVALID_HANDLE_VALUE;
    // Replaces an existing file (or link) of that name in one step.
    if (closed && MoveFileExW(s.path.c_str(), s.target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    s.error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    DeleteFileW(s.path.c_str());
    return false;
}

int ReplacingFile::error() const {
    return state_->error;
}

} // namespace host::system
