// The dynamic-calls group: a process-wide table of loaded libraries and prepared functions,
// and the libffi call path. Only this file sees dlfcn.h and ffi.h.
#include <host/dll.h>
#include <host/error.h>

#include <dlfcn.h>
#include <ffi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

namespace host {

namespace detail {

// One ffi call interface per argument shape (count and which arguments are texts). Built
// once under the registry's lock, never changed afterwards, so callers share it freely.
struct CallShape {
    ffi_cif cif{};
    std::array<ffi_type*, MaxDllArgs> types{};
    std::uint64_t key = 0;
};

struct PreparedFunction {
    void (*fn)() = nullptr;
    // The shape this function was called with last: most functions are always called the
    // same way, so the common path is one atomic load and one compare.
    mutable std::atomic<CallShape*> lastShape{nullptr};
};

} // namespace detail

struct DllCallAccess {
    static const detail::PreparedFunction* get(const DllCall& call) { return call.fn_; }
    static DllCall make(const detail::PreparedFunction* fn) { return DllCall(fn); }
};

namespace {

using detail::CallShape;
using detail::MaxDllArgs;
using detail::PreparedFunction;
using detail::RawArg;

struct DlCloser {
    void operator()(void* handle) const noexcept { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlCloser>;

// RTLD_NODELETE keeps a library mapped after dlclose: prepared calls hold raw function
// pointers into it, and libraries are meant to stay until the process ends.
constexpr int OpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

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
        void* symbol = dlsym(libraries_[static_cast<std::size_t>(handle - 1)].get(), name.c_str());
        if (symbol == nullptr) {
            return nullptr;
        }
        auto fn = std::make_unique<PreparedFunction>();
        // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
        fn->fn = reinterpret_cast<void (*)()>(symbol);
        return functions_.emplace(std::move(key), std::move(fn)).first->second.get();
    }

    CallShape* shape(std::uint64_t key, std::span<const RawArg> args) {
        const std::lock_guard lock(shapesMutex_);
        if (const auto found = shapes_.find(key); found != shapes_.end()) {
            return found->second.get();
        }
        auto shape = std::make_unique<CallShape>();
        shape->key = key;
        for (std::size_t i = 0; i < args.size(); ++i) {
            shape->types[i] = args[i].text ? &ffi_type_pointer : &ffi_type_sint32;
        }
        if (ffi_prep_cif(&shape->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(args.size()),
                         &ffi_type_sint32, shape->types.data()) != FFI_OK) {
            throw Error("DllExecuteCall", "cannot prepare the call interface",
                        {std::to_string(args.size()) + " arguments"});
        }
        return shapes_.emplace(key, std::move(shape)).first->second.get();
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
    std::mutex shapesMutex_;
    std::unordered_map<std::uint64_t, std::unique_ptr<CallShape>> shapes_;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

const std::filesystem::path& executableFolder() {
    static const std::filesystem::path folder = [] {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::filesystem::path() : exe.parent_path();
    }();
    return folder;
}

bool endsWithDll(std::string_view s) {
    constexpr std::string_view ext = ".dll";
    if (s.size() < ext.size()) {
        return false;
    }
    const auto tail = s.substr(s.size() - ext.size());
    return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

struct PlatformName {
    std::string folder; // empty, or ending in '/'
    std::string file;   // lib<base>.so
};

// "Sys\\User32.DLL" -> {"Sys/", "libUser32.so"}; nothing for a name that cannot name a file.
std::optional<PlatformName> platformName(std::string_view name) {
    if (name.empty() || name.size() > PATH_MAX || name.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    const auto slash = path.rfind('/');
    const std::size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    std::string_view base = std::string_view(path).substr(baseStart);
    if (endsWithDll(base)) {
        base.remove_suffix(4);
    }
    if (base.empty()) {
        return std::nullopt;
    }
    return PlatformName{path.substr(0, baseStart), "lib" + std::string(base) + ".so"};
}

LibraryHandle open(const std::string& path) {
    return LibraryHandle(dlopen(path.c_str(), OpenFlags));
}

LibraryHandle search(const PlatformName& name) {
    if (!name.folder.empty() && name.folder.front() == '/') {
        return open(name.folder + name.file);
    }
    if (const auto& exeDir = executableFolder(); !exeDir.empty()) {
        if (auto lib = open((exeDir / name.folder / name.file).string())) {
            return lib;
        }
    }
    // A bare name goes to the system's search path. A name with a relative folder does not:
    // dlopen would resolve it against the current folder.
    return name.folder.empty() ? open(name.file) : LibraryHandle();
}

std::int32_t checkedInt32(const char* operation, long long n) {
    if (n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max()) {
        throw Error(operation, "number outside the signed 32-bit range", {std::to_string(n)});
    }
    return static_cast<std::int32_t>(n);
}

// Argument count in the high half, one bit per text argument in the low half.
std::uint64_t shapeKey(std::span<const RawArg> args) {
    std::uint64_t key = static_cast<std::uint64_t>(args.size()) << 32;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].text) {
            key |= std::uint64_t{1} << i;
        }
    }
    return key;
}

} // namespace

long long DllLoad(std::string_view name) {
    registry().countLoad();
    const auto platform = platformName(name);
    if (!platform) {
        return 0;
    }
    auto lib = search(*platform);
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
    const std::uint64_t key = shapeKey(args);
    CallShape* shape = fn->lastShape.load(std::memory_order_acquire);
    if (shape == nullptr || shape->key != key) {
        shape = registry().shape(key, args);
        fn->lastShape.store(shape, std::memory_order_release);
    }
    // ffi wants a pointer to each argument's value. It only reads through them, so the
    // const_cast is safe. The array is left uninitialised on purpose: only the first
    // args.size() entries are read, and clearing all 32 was the largest cost of a call.
    std::array<void*, MaxDllArgs> values; // NOLINT(cppcoreguidelines-pro-type-member-init)
    for (std::size_t i = 0; i < args.size(); ++i) {
        const RawArg& arg = args[i];
        // NOLINTBEGIN(cppcoreguidelines-pro-type-const-cast)
        values[i] = arg.text ? static_cast<void*>(const_cast<const char**>(&arg.text))
                             : static_cast<void*>(const_cast<std::int32_t*>(&arg.number));
        // NOLINTEND(cppcoreguidelines-pro-type-const-cast)
    }
    ffi_arg result = 0;
    ffi_call(&shape->cif, fn->fn, &result, values.data());
    return static_cast<std::int32_t>(result);
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
