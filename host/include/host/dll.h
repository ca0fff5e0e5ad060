// Dynamic calls into shared libraries: load a library by its Windows-style name, prepare a
// call to one of its functions once, and execute it many times with numbers and texts.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace host {

// The calling-convention value programs pass for the window library's standard convention.
// On x86-64 Linux there is a single C ABI, so it maps to the platform default.
inline constexpr long long DLL_STDCALL = 32;

// Loads a library named the Windows way ("User32.dll", "Sys\\Name.dll") as this platform's
// file: the ".dll" extension (any case) is dropped and the base name becomes "lib<base>.so";
// a folder in the name is kept ('\\' or '/'). The file is looked for beside the running
// executable, then - for a bare name only - in the system's library path; never in the
// current folder. Returns a handle number, or 0 when the library cannot be loaded. Loading
// the same file twice gives the same handle. Libraries stay loaded until the process ends.
long long DllLoad(std::string_view name);

namespace detail {
struct PreparedFunction;
}

// A prepared call: one function of one loaded library, resolved once. Only DllPrepareCall
// makes a valid one; a default-constructed DllCall is not valid and executing it raises
// host::Error. Cheap to copy; it refers to runtime-owned state that lives until process end.
class DllCall {
  public:
    DllCall() = default;
    explicit operator bool() const noexcept { return fn_ != nullptr; }
    friend bool operator==(const DllCall&, const DllCall&) = default;

  private:
    friend std::optional<DllCall> DllPrepareCall(long long, long long, std::string_view);
    friend struct DllCallAccess;
    explicit DllCall(const detail::PreparedFunction* fn) : fn_(fn) {}
    const detail::PreparedFunction* fn_ = nullptr;
};

// A prepared call or NIL (std::nullopt).
using DllPrepared = std::optional<DllCall>;

// Resolves `function` in the library `handle` for the given calling convention (only
// DLL_STDCALL is known; any other value raises host::Error). Gives NIL when the handle is 0
// or unknown or the library has no such function.
DllPrepared DllPrepareCall(long long handle, long long convention, std::string_view function);

// One argument of a dynamic call: a number, passed as a signed 32-bit int (outside that range
// raises host::Error), or a text, passed as a pointer to its bytes (which may include NULs;
// the callee also sees a terminating NUL).
using DllArg = std::variant<long long, std::string>;

namespace detail {
// An argument ready for the call: no copy of a text is made.
struct RawArg {
    const char* text = nullptr; // the bytes of a text argument; null for a number
    std::int32_t number = 0;
};
RawArg toRaw(long long n);
RawArg toRaw(const std::string& s);
RawArg toRaw(const DllArg& a);
template <std::integral T> RawArg toRaw(T n) {
    return toRaw(static_cast<long long>(n));
}

long long execute(const DllPrepared& call, std::span<const RawArg> args);
inline constexpr std::size_t MaxDllArgs = 32;
} // namespace detail

// Calls the prepared function with the given numbers and texts and returns its 32-bit int
// result as a number. Executing NIL or an invalid call raises host::Error; so does a number
// outside 32 bits or more than 32 arguments.
template <typename... Args> long long DllExecuteCall(const DllPrepared& call, const Args&... args) {
    static_assert(sizeof...(Args) <= detail::MaxDllArgs, "too many arguments for a dynamic call");
    const std::array<detail::RawArg, sizeof...(Args)> raw{detail::toRaw(args)...};
    return detail::execute(call, raw);
}
// The same with arguments known only at run time.
long long DllExecuteCallArgs(const DllPrepared& call, std::span<const DllArg> args);

// The four bytes of n as a signed 32-bit integer, least significant first. Raises host::Error
// for a number outside the 32-bit range rather than wrapping it.
std::string L2Bin(long long n);

// Diagnostics, for tests: how many times DllLoad has been called (each call is one attempt to
// load), and a hook told of every DllPrepareCall (handle, function name) before it resolves.
std::uint64_t DllLoadAttempts() noexcept;
using DllPrepareHook = void (*)(long long handle, std::string_view function) noexcept;
void SetDllPrepareHook(DllPrepareHook hook) noexcept;

} // namespace host
