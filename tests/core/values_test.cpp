// Text helpers, colour numbers and errors: the semantics programs rely on.
#include <host/error.h>
#include <host/values.h>

#include <gtest/gtest.h>

using namespace host;

TEST(TextHelpers, TrimLowerRightAndEmpty) {
    EXPECT_EQ(AllTrim("  User32.DLL  "), "User32.DLL");
    EXPECT_EQ(AllTrim("   "), "");
    EXPECT_EQ(AllTrim("\tx\t"), "\tx\t") << "only spaces are trimmed";
    EXPECT_EQ(Lower("Sys\\USER32.Dll"), "sys\\user32.dll");
    EXPECT_EQ(Lower("\xc3\x89t\xc3\xa9"), "\xc3\x89t\xc3\xa9") << "UTF-8 bytes stay untouched";
    EXPECT_EQ(Right("user32.dll", 4), ".dll");
    EXPECT_EQ(Right("dll", 4), "dll");
    EXPECT_EQ(Right("", 4), "");
    EXPECT_TRUE(Empty(Nil));
    EXPECT_TRUE(Empty(std::string()));
    EXPECT_FALSE(Empty(std::string(" ")));
}

TEST(ArrayHelpers, ScanIsNumberedFromOne) {
    std::vector<std::string> a;
    EXPECT_EQ(AScan(a, [](const std::string&) { return true; }), 0u);
    AAdd(a, "x");
    AAdd(a, "y");
    EXPECT_EQ(AScan(a, [](const std::string& s) { return s == "y"; }), 2u);
    EXPECT_EQ(AScan(a, [](const std::string& s) { return s == "z"; }), 0u);
}

TEST(Colours, MadeFromChannelsAndCheckedForRange) {
    const Color c = GraMakeRGBColor({6, 190, 225});
    EXPECT_EQ(RedOf(c), 6);
    EXPECT_EQ(GreenOf(c), 190);
    EXPECT_EQ(BlueOf(c), 225);
    EXPECT_THROW(GraMakeRGBColor({256, 0, 0}), Error);
    EXPECT_THROW(GraMakeRGBColor({0, -1, 0}), Error);
}

TEST(Errors, OneReadableLine) {
    const Error e("DllLoad", "cannot load the library", {"x.dll", "7"});
    EXPECT_STREQ(e.what(), "DllLoad: cannot load the library (x.dll, 7)");
    EXPECT_EQ(e.operation(), "DllLoad");
    EXPECT_EQ(e.args().size(), 2u);
}

TEST(Callbacks, CarryTheirSourceText) {
    int calls = 0;
    Callback<void(int)> cb("{|n| calls += n}", [&](int n) { calls += n; });
    cb(3);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(cb.source(), "{|n| calls += n}");
    EXPECT_FALSE(Callback<void()>{});
}
