// The first ApiInvalidateRect_ in a process loads the window library and prepares its four
// functions in order; later calls prepare nothing. Alone in its executable: it needs a
// process in which nothing has been prepared yet.
#include "double_client.h"

#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::mutex preparedMutex;
std::vector<std::string> prepared;

void onPrepare(long long /*handle*/, std::string_view function) noexcept {
    const std::lock_guard lock(preparedMutex);
    prepared.emplace_back(function);
}

std::vector<std::string> takePrepared() {
    const std::lock_guard lock(preparedMutex);
    return std::exchange(prepared, {});
}

} // namespace

TEST(InvalidateFirstCall, PreparesTheFourCallsOnceInOrder) {
    host::SetDllPrepareHook(&onPrepare);
    const auto loadsBefore = host::DllLoadAttempts();

    EXPECT_TRUE(Invalidate::ApiInvalidateRect_(std::nullopt, 1, 2, 3, 4));
    EXPECT_EQ(takePrepared(), (std::vector<std::string>{"InvalidateRect", "UpdateWindow",
                                                        "RedrawWindow", "GetDesktopWindow"}));
    EXPECT_EQ(host::DllLoadAttempts() - loadsBefore, 1U);

    EXPECT_TRUE(Invalidate::ApiInvalidateRect_(std::nullopt, 1, 2, 3, 4));
    EXPECT_TRUE(Invalidate::ApiInvalidateRect_(7, 5, 6, 7, 8));
    EXPECT_TRUE(takePrepared().empty());
    EXPECT_EQ(host::DllLoadAttempts() - loadsBefore, 1U);

    // The library the program loaded is the double beside this executable, loaded once.
    host::SetDllPrepareHook(nullptr);
    const testdouble::WindowLibrary lib;
    EXPECT_EQ(lib.loads(), 1);
    EXPECT_EQ(lib.count(), 18);
}
