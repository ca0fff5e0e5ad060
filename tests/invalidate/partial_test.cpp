// A window library without InvalidateRect: executing the missing call raises the runtime's
// error, and since that call stays unprepared, every call loads and prepares all four again,
// with the library itself loaded only once.
#include "double_client.h"

#include <host/error.h>
#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<int> prepares{0};
void onPrepare(long long /*handle*/, std::string_view /*function*/) noexcept {
    ++prepares;
}
} // namespace

TEST(InvalidateWithoutInvalidateRect, RaisesAndPreparesAgainEachTime) {
    host::SetDllPrepareHook(&onPrepare);
    const auto loadsBefore = host::DllLoadAttempts();
    for (int i = 1; i <= 3; ++i) {
        try {
            Invalidate::ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110);
            ADD_FAILURE() << "no error for a missing InvalidateRect";
        } catch (const host::Error& e) {
            EXPECT_EQ(e.operation(), "DllExecuteCall");
        }
        EXPECT_EQ(prepares.load(), 4 * i);
    }
    EXPECT_EQ(host::DllLoadAttempts() - loadsBefore, 1U);
    host::SetDllPrepareHook(nullptr);

    // Only GetDesktopWindow was reached each time.
    const testdouble::WindowLibrary lib;
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 3U);
    for (const auto& c : calls) {
        EXPECT_EQ(c.function, testdouble::GetDesktopWindow);
    }
}
