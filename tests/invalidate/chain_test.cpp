// ApiInvalidateRect_'s call chain against the window-library double: the calls, their
// arguments and the rectangle bytes, and where a failing call ends the chain.
#include "double_client.h"

#include <host/error.h>
#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <optional>

using Invalidate::ApiInvalidateRect_;
using testdouble::Call;
using testdouble::DesktopHandle;

namespace {

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        static constexpr char digits[] = "0123456789ABCDEF";
        out += {digits[c >> 4], digits[c & 15], ' '};
    }
    return out.empty() ? out : out.substr(0, out.size() - 1);
}

constexpr const char* Rect10_20_70_110 = "0A 00 00 00 14 00 00 00 6E 00 00 00 46 00 00 00";

} // namespace

TEST(InvalidateChain, CallsTheWindowLibraryInOrderOnTheDesktop) {
    const testdouble::WindowLibrary lib;
    lib.reset();
    // Edges left, top, bottom, right.
    EXPECT_TRUE(ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110));
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 6U);
    EXPECT_EQ(calls[0].function, testdouble::GetDesktopWindow);
    const int expected[] = {testdouble::InvalidateRect, testdouble::UpdateWindow,
                            testdouble::RedrawWindow, testdouble::RedrawWindow,
                            testdouble::RedrawWindow};
    const long long flags[] = {0, 0, 0x1, 0x8 | 0x80 | 0x100, 0x80 | 0x100};
    for (std::size_t i = 1; i < calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i + 1));
        EXPECT_EQ(calls[i].function, expected[i - 1]);
        EXPECT_EQ(calls[i].hwnd, DesktopHandle);
        if (calls[i].function != testdouble::UpdateWindow) {
            EXPECT_EQ(hex(calls[i].rect), Rect10_20_70_110); // left, top, right, bottom
        }
        if (calls[i].function == testdouble::RedrawWindow) {
            EXPECT_EQ(calls[i].third, 0); // no region
            EXPECT_EQ(calls[i].flags, flags[i - 1]);
        }
    }
    EXPECT_EQ(calls[1].third, 1); // InvalidateRect erases
}

TEST(InvalidateChain, TheWindowPassedInHasNoEffect) {
    const testdouble::WindowLibrary lib;
    for (const std::optional<long long> hwnd : {std::optional<long long>{}, std::optional(0LL),
                                                std::optional(12345LL), std::optional(-1LL)}) {
        lib.reset();
        EXPECT_TRUE(ApiInvalidateRect_(hwnd, -1, -1, -1, -1));
        const auto calls = lib.calls();
        ASSERT_EQ(calls.size(), 6U);
        for (std::size_t i = 1; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].hwnd, DesktopHandle);
        }
        EXPECT_EQ(hex(calls[1].rect), "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");
    }
}

TEST(InvalidateChain, AFailingCallEndsTheChainAndGivesFalse) {
    const testdouble::WindowLibrary lib;
    // Calls 2..6 are InvalidateRect, UpdateWindow and the three RedrawWindow calls.
    for (int failing = 2; failing <= 6; ++failing) {
        SCOPED_TRACE("failing call " + std::to_string(failing));
        lib.reset(failing);
        EXPECT_FALSE(ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110));
        EXPECT_EQ(lib.count(), failing);
    }
    // A desktop handle of 0 is passed on, not checked.
    lib.reset(1);
    EXPECT_TRUE(ApiInvalidateRect_(std::nullopt, 10, 20, 70, 110));
    const auto calls = lib.calls();
    ASSERT_EQ(calls.size(), 6U);
    EXPECT_EQ(calls[1].hwnd, 0);
}

TEST(InvalidateChain, OutOfRangeEdgesRaiseBeforeAnyCall) {
    const testdouble::WindowLibrary lib;
    ASSERT_TRUE(ApiInvalidateRect_(std::nullopt, 0, 0, 1, 1)); // prepared already
    const long long big = 2147483648LL;
    const long long edges[4][4] = {
        {big, 0, 0, 0}, {0, -big - 1, 0, 0}, {0, 0, big, 0}, {0, 0, 0, -big - 1}};
    for (const auto& e : edges) {
        lib.reset();
        EXPECT_THROW(ApiInvalidateRect_(std::nullopt, e[0], e[1], e[2], e[3]), host::Error);
        EXPECT_EQ(lib.count(), 0);
    }
}
