// Dynamic calls against a real library built for the purpose (libdllprobe.so beside this
// executable, a second copy in bin/dllsub): where names lead, what calls pass and return.
#include <host/dll.h>
#include <host/error.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using host::DllExecuteCall;
using host::DllLoad;
using host::DllPrepareCall;

namespace {

constexpr long long Std = host::DLL_STDCALL;

fs::path exeFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

long long where(long long handle) {
    return DllExecuteCall(DllPrepareCall(handle, Std, "ProbeWhere"));
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        static constexpr char digits[] = "0123456789ABCDEF";
        out += {digits[c >> 4], digits[c & 15], ' '};
    }
    return out.empty() ? out : out.substr(0, out.size() - 1);
}

} // namespace

TEST(DllLoad, MapsWindowsNamesToLibrariesBesideTheExecutable) {
    const long long h = DllLoad("dllprobe.dll");
    ASSERT_NE(h, 0);
    EXPECT_EQ(where(h), 1);
    // The extension in any case, or none; the same file gives the same handle.
    EXPECT_EQ(DllLoad("dllprobe.DLL"), h);
    EXPECT_EQ(DllLoad("dllprobe"), h);
    // The base name keeps its case: the file system is case sensitive.
    EXPECT_EQ(DllLoad("DllProbe.dll"), 0);
    // Only one ".dll" is dropped.
    EXPECT_EQ(DllLoad("dllprobe.dll.dll"), 0);
    // Loading again does not run the library's initialisation again.
    EXPECT_EQ(DllExecuteCall(DllPrepareCall(h, Std, "ProbeLoads")), 1);
}

TEST(DllLoad, KeepsTheFolderOfTheName) {
    const long long sub = DllLoad("dllsub\\dllprobe.dll");
    ASSERT_NE(sub, 0);
    EXPECT_EQ(where(sub), 2);
    EXPECT_EQ(DllLoad("dllsub/dllprobe"), sub);
    EXPECT_EQ(DllLoad((exeFolder() / "dllsub" / "dllprobe.dll").string()), sub);
    EXPECT_NE(sub, DllLoad("dllprobe.dll"));
    EXPECT_EQ(DllLoad("no-such-folder\\dllprobe.dll"), 0);
    EXPECT_EQ(DllLoad("/no/such/folder/dllprobe.dll"), 0);
}

TEST(DllLoad, UsesTheSystemPathForBareNamesOnly) {
    EXPECT_NE(DllLoad("ffi.dll"), 0); // libffi.so from the system's library folders
    EXPECT_EQ(DllLoad("no_such_library_anywhere.dll"), 0);
}

TEST(DllLoad, NeverLooksInTheCurrentFolder) {
    const fs::path tmp = fs::temp_directory_path() / ("dll_test_cwd_" + std::to_string(getpid()));
    fs::create_directories(tmp / "sub");
    fs::copy_file(exeFolder() / "libdllprobe.so", tmp / "libcwdprobe.so");
    fs::copy_file(exeFolder() / "libdllprobe.so", tmp / "sub" / "libcwdprobe.so");
    const fs::path before = fs::current_path();
    fs::current_path(tmp);
    const long long bare = DllLoad("cwdprobe.dll");
    const long long dotted = DllLoad(".\\cwdprobe.dll");
    const long long folder = DllLoad("sub\\cwdprobe.dll");
    fs::current_path(before);
    fs::remove_all(tmp);
    EXPECT_EQ(bare, 0);
    EXPECT_EQ(dotted, 0);
    EXPECT_EQ(folder, 0);
}

TEST(DllLoad, RejectsNamesThatCannotNameALibrary) {
    const auto before = host::DllLoadAttempts();
    EXPECT_EQ(DllLoad(""), 0);
    EXPECT_EQ(DllLoad(".dll"), 0);
    EXPECT_EQ(DllLoad("dllsub\\.DLL"), 0);
    // A NUL must not cut the name short into one that loads.
    EXPECT_EQ(DllLoad(std::string("dllprobe\0.dll", 13)), 0);
    EXPECT_EQ(DllLoad(std::string(100000, 'a') + ".dll"), 0);
    EXPECT_EQ(DllLoad(std::string(5000, '/') + "dllprobe.dll"), 0);
    EXPECT_EQ(host::DllLoadAttempts() - before, 6U);
}

TEST(DllPrepareCall, GivesNilForUnknownHandlesAndFunctions) {
    const long long h = DllLoad("dllprobe.dll");
    ASSERT_NE(h, 0);
    EXPECT_FALSE(DllPrepareCall(0, Std, "ProbeAdd"));
    EXPECT_FALSE(DllPrepareCall(-1, Std, "ProbeAdd"));
    EXPECT_FALSE(DllPrepareCall(1'000'000, Std, "ProbeAdd"));
    EXPECT_FALSE(DllPrepareCall(h, Std, "NoSuchFunction"));
    EXPECT_FALSE(DllPrepareCall(h, Std, ""));
    EXPECT_FALSE(DllPrepareCall(h, Std, std::string("ProbeAdd\0x", 10)));
    EXPECT_THROW(DllPrepareCall(h, 8, "ProbeAdd"), host::Error);
    const auto add = DllPrepareCall(h, Std, "ProbeAdd");
    ASSERT_TRUE(add);
    EXPECT_EQ(add, DllPrepareCall(h, Std, "ProbeAdd")); // resolved once, shared
}

TEST(DllExecuteCall, PassesNumbersAndTextsAndReturnsTheResult) {
    const long long h = DllLoad("dllprobe.dll");
    const auto add = DllPrepareCall(h, Std, "ProbeAdd");
    const auto length = DllPrepareCall(h, Std, "ProbeLength");
    const auto byteSum = DllPrepareCall(h, Std, "ProbeByteSum");
    const auto mixed = DllPrepareCall(h, Std, "ProbeMixed");
    ASSERT_TRUE(add && length && byteSum && mixed);

    EXPECT_EQ(DllExecuteCall(add, 2, 3), 5);
    EXPECT_EQ(DllExecuteCall(add, -7LL, 2LL), -5);
    EXPECT_EQ(DllExecuteCall(add, INT_MIN, 0), INT_MIN);
    EXPECT_EQ(DllExecuteCall(length, std::string("abc")), 3);
    // Texts go as their bytes, NULs included, and end in a NUL for the callee.
    const std::string withNul("\x01\0\x02", 3);
    EXPECT_EQ(DllExecuteCall(byteSum, withNul, 3), 1 + 0 + 2 * 3);
    EXPECT_EQ(DllExecuteCall(length, withNul), 1);
    EXPECT_EQ(DllExecuteCall(mixed, 1, std::string("ab"), 3, std::string("wxyz"), 5, 6, 7, 8),
              1 + 20 + 300 + 4000 + 5 + 6 + 70000 + 800000);
    // The same function alternating shapes, and arguments known only at run time.
    const host::DllArg args[] = {40LL, 2LL};
    EXPECT_EQ(host::DllExecuteCallArgs(add, args), 42);
    const host::DllArg textArgs[] = {std::string("xyz"), 3LL};
    EXPECT_EQ(host::DllExecuteCallArgs(byteSum, textArgs), 'x' + 'y' * 2 + 'z' * 3);
    EXPECT_EQ(DllExecuteCall(add, 1, 1), 2);
}

TEST(DllExecuteCall, RaisesHostErrorsForNilInvalidCallsAndOutOfRangeNumbers) {
    const auto add = DllPrepareCall(DllLoad("dllprobe.dll"), Std, "ProbeAdd");
    ASSERT_TRUE(add);
    try {
        DllExecuteCall(host::DllPrepared{}, 1, 2);
        FAIL() << "executing NIL returned";
    } catch (const host::Error& e) {
        EXPECT_EQ(e.operation(), "DllExecuteCall");
        EXPECT_NE(e.description().find("NIL"), std::string::npos) << e.what();
    }
    EXPECT_THROW(DllExecuteCall(host::DllPrepared{host::DllCall{}}, 1, 2), host::Error);
    EXPECT_THROW(DllExecuteCall(add, 2147483648LL, 0), host::Error);
    EXPECT_THROW(DllExecuteCall(add, 0, -2147483649LL), host::Error);
    const std::vector<host::DllArg> tooMany(33, host::DllArg{1LL});
    EXPECT_THROW(host::DllExecuteCallArgs(add, tooMany), host::Error);
}

TEST(L2Bin, GivesFourBytesLeastSignificantFirst) {
    EXPECT_EQ(hex(host::L2Bin(10) + host::L2Bin(20) + host::L2Bin(110) + host::L2Bin(70)),
              "0A 00 00 00 14 00 00 00 6E 00 00 00 46 00 00 00");
    EXPECT_EQ(hex(host::L2Bin(-1)), "FF FF FF FF");
    EXPECT_EQ(hex(host::L2Bin(INT_MIN)), "00 00 00 80");
    EXPECT_EQ(hex(host::L2Bin(INT_MAX)), "FF FF FF 7F");
    EXPECT_EQ(hex(host::L2Bin(0x01020304)), "04 03 02 01");
    EXPECT_THROW(host::L2Bin(2147483648LL), host::Error);
    EXPECT_THROW(host::L2Bin(-2147483649LL), host::Error);
}
