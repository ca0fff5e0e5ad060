// The dynamic-calls group's front end: a process-wide table of loaded libraries and prepared
// functions, and the checks on names and arguments. The platform's loader and call path sit
// behind library.h (dll_posix.cpp: dlopen and libffi; dll_win32.cpp: LoadLibraryExW).
#include "library.h"

#include <host/dll.h>
#include <host/error.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace host {

struct DllCallAccess {
    static const detail::PreparedFunction* get(const DllCall& call) { return call.fn_; }
    static DllCall make(const detail::PreparedFunction* fn) { return DllCall(fn); }
};

namespace {

using detail::MaxDllArgs;
using detail::PreparedFunction;
using detail::RawArg;

struct LibraryReleaser {
    void operator()(void* lib) const noexcept { detail::dllos::release(lib); }
};
using LibraryHandle = std::unique_ptr<void, LibraryReleaser>;

class Registry {
  public:
    long long addLibrary(LibraryHandle lib) {
        const std::lock_guard lock(mutex_);
        const auto same = std::find(libraries_.begin(), libraries_.end(), lib);
        if (same != libraries_.end()) {
            return static_cast<long long>(same - libraries_.begin()) + 1; // lib drops its ref
        }
        libraries_.push_back(std::move(lib));
        return static_cast<long long>(libraries_.size());
    }

    const PreparedFunction* prepare(long long handle, const std::string& name) {
        const std::lock_guard lock(mutex_);
        if (handle < 1 || handle > static_cast<long long>(libraries_.size())) {
            return nullptr;
        }
        auto key = std::make_pair(handle, name);
        if (const auto found = functions_.find(key); found != functions_.end()) {
            return found->second.get();
        }
        const auto symbol =
            detail::dllos::symbol(libraries_[static_cast<std::size_t>(handle - 1)].get(), name);
        if (symbol == nullptr) {
            return nullptr;
        }
        auto fn = std::make_unique<PreparedFunction>();
        fn->fn = symbol;
        return functions_.emplace(std::move(key), std::move(fn)).first->second.get();
    }

    std::uint64_t countLoad() noexcept { return ++loadAttempts_; }
    std::uint64_t loads() const noexcept { return loadAttempts_.load(); }
    void setPrepareHook(DllPrepareHook hook) noexcept { prepareHook_.store(hook); }
    DllPrepareHook prepareHook() const noexcept { return prepareHook_.load(); }

  private:
    std::atomic<std::uint64_t> loadAttempts_{0};
    std::atomic<DllPrepareHook> prepareHook_{nullptr};
    std::mutex mutex_;
    std::vector<LibraryHandle> libraries_; // handle number = index + 1
    std::map<std::pair<long long, std::string>, std::unique_ptr<PreparedFunction>> functions_;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

std::int32_t checkedInt32(const char* operation, long long n) {
    if (n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max()) {
        throw Error(operation, "number outside the signed 32-bit range", {std::to_string(n)});
    }
    return static_cast<std::int32_t>(n);
}

} // namespace

long long DllLoad(std::string_view name) {
    registry().countLoad();
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return 0;
    }
    LibraryHandle lib(detail::dllos::load(name));
    return lib ? registry().addLibrary(std::move(lib)) : 0;
}

DllPrepared DllPrepareCall(long long handle, long long convention, std::string_view function) {
    if (convention != DLL_STDCALL) {
        throw Error("DllPrepareCall", "unknown calling convention",
                    {std::to_string(convention), std::string(function)});
    }
    if (const auto hook = registry().prepareHook()) {
        hook(handle, function);
    }
    if (function.empty() || function.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const PreparedFunction* fn = registry().prepare(handle, std::string(function));
    return fn ? DllPrepared(DllCallAccess::make(fn)) : std::nullopt;
}

namespace detail {

RawArg toRaw(long long n) {
    return RawArg{nullptr, checkedInt32("DllExecuteCall", n)};
}
RawArg toRaw(const std::string& s) {
    return RawArg{s.c_str(), 0};
}
RawArg toRaw(const DllArg& a) {
    return std::visit([](const auto& v) { return toRaw(v); }, a);
}

long long execute(const DllPrepared& call, std::span<const RawArg> args) {
    if (!call) {
        throw Error("DllExecuteCall", "the call was not prepared (NIL)");
    }
    const PreparedFunction* fn = DllCallAccess::get(*call);
    if (fn == nullptr || fn->fn == nullptr) {
        throw Error("DllExecuteCall", "not a prepared call");
    }
    if (args.size() > MaxDllArgs) {
        throw Error("DllExecuteCall", "too many arguments", {std::to_string(args.size())});
    }
    return detail::dllos::call(*fn, args);
}

} // namespace detail

long long DllExecuteCallArgs(const DllPrepared& call, std::span<const DllArg> args) {
    if (args.size() > MaxDllArgs) {
        throw Error("DllExecuteCall", "too many arguments", {std::to_string(args.size())});
    }
    std::array<RawArg, MaxDllArgs> raw{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        raw[i] = detail::toRaw(args[i]);
    }
    return detail::execute(call, std::span<const RawArg>(raw.data(), args.size()));
}

std::string L2Bin(long long n) {
    const auto bits = static_cast<std::uint32_t>(checkedInt32("L2Bin", n));
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xffU);
    }
    return bytes;
}

std::uint64_t DllLoadAttempts() noexcept {
    return registry().loads();
}

void SetDllPrepareHook(DllPrepareHook hook) noexcept {
    registry().setPrepareHook(hook);
}

} // namespace host
