// Sixteen threads loading libraries and repainting at once: every call succeeds, each name's
// normal form is loaded once, and the window library's functions are prepared once.
#include "double_client.h"

#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<int> prepares{0};
void onPrepare(long long /*handle*/, std::string_view /*function*/) noexcept {
    ++prepares;
}
} // namespace

TEST(InvalidateThreads, SixteenThreadsShareOneTableAndOnePreparation) {
    constexpr int Threads = 16;
    constexpr int Rounds = 40;
    host::SetDllPrepareHook(&onPrepare);
    const auto loadsBefore = host::DllLoadAttempts();
    // Three spellings of the window library, and names of libraries that do not exist:
    // five normal forms in all.
    const std::vector<std::string> names = {
        "User32",        " USER32.DLL ", "user32.dll", "Missing-A",
        "missing-a.DLL", "Missing-B",    "missing-c",  ""};
    std::atomic<int> failures{0};
    std::atomic<long long> user32{-1};
    {
        std::vector<std::jthread> threads;
        threads.reserve(Threads);
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                for (int r = 0; r < Rounds; ++r) {
                    const std::string& name = names[static_cast<std::size_t>(t + r) % names.size()];
                    const long long h = Invalidate::ApiLoadDll_(name);
                    if (name.find('3') != std::string::npos) {
                        long long expected = -1;
                        if (!user32.compare_exchange_strong(expected, h) && expected != h) {
                            ++failures;
                        }
                    } else if (h != 0) {
                        ++failures;
                    }
                    if (!Invalidate::ApiInvalidateRect_(t, r, r, r + 10, r + 10)) {
                        ++failures;
                    }
                }
            });
        }
    }
    host::SetDllPrepareHook(nullptr);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_NE(user32.load(), 0);
    // user32.dll, missing-a.dll, missing-b.dll, missing-c.dll, .dll
    EXPECT_EQ(host::DllLoadAttempts() - loadsBefore, 5U);
    EXPECT_EQ(prepares.load(), 4);
    const testdouble::WindowLibrary lib;
    EXPECT_EQ(lib.count(), Threads * Rounds * 6);
}
