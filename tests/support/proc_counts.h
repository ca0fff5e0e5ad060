// Counts of this process's OS threads and open sockets, read from /proc (on Windows the thread
// count from a Toolhelp snapshot), for leak checks.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs:
#include <tlhelp32.h>
#endif

namespace proc {

#ifdef _WIN32

inline int threadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int n = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        n += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return n;
}

#else

inline int threadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

// The ids of this process's threads. Libraries keep helper threads of their own (a GLib
// pool thread ends after some idle seconds), so leak checks compare ids, not just counts.
inline std::set<int> threadIds() {
    std::set<int> ids;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(std::stoi(e.path().filename().string()));
    }
    return ids;
}

// The threads' names, for failure messages.
inline std::string threadNames() {
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(e.path() / "comm");
        std::string name;
        std::getline(comm, name);
        names += (names.empty() ? "" : ", ") + e.path().filename().string() + ":" + name;
    }
    return names;
}

#endif

// The thread count before a test starts its threads. Sanitizer runtimes start a helper thread
// of their own when the first thread is made, so make (and end) one first.
inline int baselineThreadCount() {
    std::thread([] {}).join();
    return threadCount();
}

#ifndef _WIN32
// Sockets among the open descriptors: an X connection is one of them.
inline int socketCount() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(e.path(), ec);
        if (!ec && target.string().rfind("socket:", 0) == 0) {
            ++n;
        }
    }
    return n;
}
#endif

// Threads end a little after they say so: wait (in short sleeps) for the count to settle.
inline bool waitThreadCount(int expected, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (threadCount() != expected) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace proc
