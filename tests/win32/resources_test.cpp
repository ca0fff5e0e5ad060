// What Windows reads from menutest.exe beside the test: the version resource (product, version,
// licence) as Explorer shows it, and the manifest that asks for the current common controls,
// UTF-8 and a stated DPI awareness.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path besideTest(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path() / name;
}

// One string of the US English, UTF-16 table, or "" when it is missing.
std::wstring versionString(const std::vector<char>& info, const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + key;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) {
        return {};
    }
    return std::wstring(static_cast<const wchar_t*>(value));
}

struct ModuleCloser {
    void operator()(HMODULE m) const noexcept { FreeLibrary(m); }
};

} // namespace

TEST(Resources, MenutestCarriesItsVersionAndAManifest) {
    const fs::path exe = besideTest(L"menutest.exe");
    ASSERT_TRUE(fs::exists(exe)) << exe;

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::wstring numbers = std::to_wstring(HIWORD(fixed->dwProductVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwProductVersionMS)) + L"." +
                                 std::to_wstring(HIWORD(fixed->dwProductVersionLS));
    EXPECT_EQ(numbers, MENUTIP_VERSION_W);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    EXPECT_EQ(versionString(info, L"ProductVersion"), MENUTIP_VERSION_W);
    EXPECT_EQ(versionString(info, L"FileVersion"), MENUTIP_VERSION_W);
    EXPECT_EQ(versionString(info, L"ProductName"), L"Menu Test");
    EXPECT_EQ(versionString(info, L"OriginalFilename"), L"menutest.exe");
    EXPECT_NE(versionString(info, L"FileDescription"), L"");
    EXPECT_NE(versionString(info, L"LegalCopyright").find(L"menutip authors"), std::wstring::npos);
    EXPECT_NE(versionString(info, L"Comments").find(L"MIT License"), std::wstring::npos);

    // The manifest the loader applies when the process starts (resource 1 of type 24).
    const std::unique_ptr<HINSTANCE__, ModuleCloser> module(
        LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module) << GetLastError();
    const HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr) << "no application manifest";
    const HGLOBAL loaded = LoadResource(module.get(), found);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module.get(), found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("<dpiAwareness"), std::string::npos) << manifest;
}
