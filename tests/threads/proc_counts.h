// Counts of this process's OS threads and open sockets, read from /proc, for leak checks.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace proc {

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

// The thread count before a test starts its threads. Sanitizer runtimes start a helper thread
// of their own when the first thread is made, so make (and end) one first.
inline int baselineThreadCount() {
    std::thread([] {}).join();
    return threadCount();
}

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
