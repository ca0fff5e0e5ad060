// Dynamic calls on Windows: libraries load with LoadLibraryExW from the application's folder
// and System32 only (never the current folder), functions resolve with GetProcAddress, and
// calls follow the x64 convention for integer and pointer arguments.
#include "library.h"
#include "system/utf16.h"

#include <host/error.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace host::detail::dllos {

namespace {

// The folder of the running executable, with a trailing backslash.
std::wstring executableFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') &&
            (path[1] == L'\\' || path[1] == L'/'));
}

// Every x64 argument of integer class travels in a 64-bit slot (registers, then the stack),
// so a function of n int and pointer arguments can be called as one of n intptr_t.
using Slot = std::intptr_t;
template <std::size_t... I>
Slot callWith(void (*fn)(), const Slot* slots, std::index_sequence<I...>) {
    using Fn = Slot (*)(decltype(I, Slot{})...);
    return reinterpret_cast<Fn>(fn)(slots[I]...);
}
template <std::size_t N> Slot callN(void (*fn)(), const Slot* slots) {
    return callWith(fn, slots, std::make_index_sequence<N>{});
}
using Caller = Slot (*)(void (*)(), const Slot*);
template <std::size_t... N>
constexpr std::array<Caller, sizeof...(N)> callers(std::index_sequence<N...>) {
    return {&callN<N>...};
}
// One caller per argument count, 0 to MaxDllArgs.
constexpr auto kCallers = callers(std::make_index_sequence<MaxDllArgs + 1>{});

} // namespace

Library load(std::string_view name) {
    std::wstring file = system::ToUtf16(name, system::BadUtf8::Refuse);
    if (file.empty() || file.size() >= 32767) {
        return nullptr;
    }
    if (file.find_first_of(L"\\/") == std::wstring::npos) {
        // A bare name: the application's folder, then System32.
        return LoadLibraryExW(file.c_str(), nullptr,
                              LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // A name with a folder: a relative one is taken from the application's folder, never from
    // the current folder; the library's own dependencies come from its folder and System32.
    if (!isAbsolute(file)) {
        const std::wstring folder = executableFolder();
        if (folder.empty()) {
            return nullptr;
        }
        file = folder + file;
    }
    for (auto& c : file) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return LoadLibraryExW(file.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void release(Library lib) noexcept {
    FreeLibrary(static_cast<HMODULE>(lib));
}

void (*symbol(Library lib, const std::string& name))() {
    return reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
}

long long call(const PreparedFunction& fn, std::span<const RawArg> args) {
    if (args.size() >= kCallers.size()) {
        throw Error("DllExecuteCall", "too many arguments", {std::to_string(args.size())});
    }
    std::array<Slot, MaxDllArgs> slots{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        // Numbers are sign-extended from 32 bits, as the callee reads an int from the slot.
        slots[i] = args[i].text ? reinterpret_cast<Slot>(args[i].text) : Slot{args[i].number};
    }
    const Slot result = kCallers[args.size()](fn.fn, slots.data());
    return static_cast<std::int32_t>(result);
}

} // namespace host::detail::dllos
