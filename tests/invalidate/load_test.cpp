// ApiLoadDll_: one load per normal form of a name, failures remembered, odd names harmless.
// Uses libdllprobe.so (tests/dll) beside this executable and in its dllsub folder; each test
// uses names of its own, since the table lives as long as the process.
#include <host/dll.h>
#include <invalidate/invalidate.h>

#include <gtest/gtest.h>

#include <string>

using Invalidate::ApiLoadDll_;

namespace {

// Loads counted by the runtime while `body` runs.
template <typename F> std::uint64_t loadsDuring(F&& body) {
    const auto before = host::DllLoadAttempts();
    body();
    return host::DllLoadAttempts() - before;
}

long long where(long long handle) {
    return host::DllExecuteCall(host::DllPrepareCall(handle, host::DLL_STDCALL, "ProbeWhere"));
}

} // namespace

TEST(ApiLoadDll, LoadsOncePerNormalFormOfTheName) {
    long long h = 0;
    EXPECT_EQ(loadsDuring([&] { h = ApiLoadDll_("  DllProbe  "); }), 1U);
    ASSERT_NE(h, 0);
    EXPECT_EQ(where(h), 1);
    EXPECT_EQ(loadsDuring([&] {
                  EXPECT_EQ(ApiLoadDll_("DLLPROBE.DLL"), h);
                  EXPECT_EQ(ApiLoadDll_("dllprobe"), h);
                  EXPECT_EQ(ApiLoadDll_(" dllprobe.dll"), h);
                  EXPECT_EQ(ApiLoadDll_("DllProbe.Dll   "), h);
              }),
              0U);
}

TEST(ApiLoadDll, KeepsFoldersInTheName) {
    long long sub = 0;
    EXPECT_EQ(loadsDuring([&] { sub = ApiLoadDll_("DllSub\\DllProbe"); }), 1U);
    ASSERT_NE(sub, 0);
    EXPECT_EQ(where(sub), 2);
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_("dllsub\\DLLPROBE.dll"), sub); }), 0U);
    // Another spelling of the folder is another row, though the same library.
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_("./DllSub/../dllsub\\dllprobe"), sub); }),
              1U);
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_("NoSuchFolder\\DllProbe"), 0); }), 1U);
}

TEST(ApiLoadDll, RemembersAFailedLoad) {
    EXPECT_EQ(loadsDuring([] { EXPECT_EQ(ApiLoadDll_("NoSuchLibrary"), 0); }), 1U);
    EXPECT_EQ(loadsDuring([] {
                  EXPECT_EQ(ApiLoadDll_("nosuchlibrary.dll"), 0);
                  EXPECT_EQ(ApiLoadDll_(" NOSUCHLIBRARY "), 0);
              }),
              0U);
    // A doubled extension keeps one ".dll" in the file name, which does not exist.
    EXPECT_EQ(loadsDuring([] { EXPECT_EQ(ApiLoadDll_("DllProbe.DLL.DLL"), 0); }), 1U);
    EXPECT_EQ(loadsDuring([] { EXPECT_EQ(ApiLoadDll_("dllprobe.dll.dll"), 0); }), 0U);
}

TEST(ApiLoadDll, OddNamesAreStoredFailures) {
    // Empty and all-space names are both ".dll".
    EXPECT_EQ(loadsDuring([] { EXPECT_EQ(ApiLoadDll_(""), 0); }), 1U);
    EXPECT_EQ(loadsDuring([] { EXPECT_EQ(ApiLoadDll_("     "), 0); }), 0U);
    const std::string nul("dllprobe\0evil", 13);
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_(nul), 0); }), 1U);
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_(nul), 0); }), 0U);
    const std::string huge(1 << 20, 'x');
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_(huge), 0); }), 1U);
    EXPECT_EQ(loadsDuring([&] { EXPECT_EQ(ApiLoadDll_(" " + huge + ".DLL"), 0); }), 0U);
}
