// Dynamic calls on POSIX: Windows-style library names become "lib<base>.so" files opened with
// dlopen beside the executable (or, for a bare name, on the system's path), and calls go
// through libffi. Only this file sees dlfcn.h and ffi.h.
#include "library.h"

#include <host/error.h>

#include <dlfcn.h>
#include <ffi.h>

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <unordered_map>

namespace host::detail::dllos {

namespace {

// One ffi call interface per argument shape (count and which arguments are texts). Built
// once under the table's lock, never changed afterwards, so callers share it freely.
struct CallShape {
    ffi_cif cif{};
    std::array<ffi_type*, MaxDllArgs> types{};
    std::uint64_t key = 0;
};

class Shapes {
  public:
    CallShape* shape(std::uint64_t key, std::span<const RawArg> args) {
        const std::lock_guard lock(mutex_);
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

  private:
    std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::unique_ptr<CallShape>> shapes_;
};

Shapes& shapes() {
    static Shapes instance;
    return instance;
}

// RTLD_NODELETE keeps a library mapped after dlclose: prepared calls hold raw function
// pointers into it, and libraries are meant to stay until the process ends.
constexpr int OpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

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

Library open(const std::string& path) {
    return dlopen(path.c_str(), OpenFlags);
}

Library search(const PlatformName& name) {
    if (!name.folder.empty() && name.folder.front() == '/') {
        return open(name.folder + name.file);
    }
    if (const auto& exeDir = executableFolder(); !exeDir.empty()) {
        if (Library lib = open((exeDir / name.folder / name.file).string())) {
            return lib;
        }
    }
    // A bare name goes to the system's search path. A name with a relative folder does not:
    // dlopen would resolve it against the current folder.
    return name.folder.empty() ? open(name.file) : nullptr;
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

Library load(std::string_view name) {
    const auto platform = platformName(name);
    return platform ? search(*platform) : nullptr;
}

void release(Library lib) noexcept {
    dlclose(lib);
}

void (*symbol(Library lib, const std::string& name))() {
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
    return reinterpret_cast<void (*)()>(dlsym(lib, name.c_str()));
}

long long call(const PreparedFunction& fn, std::span<const RawArg> args) {
    const std::uint64_t key = shapeKey(args);
    // The shape this function was called with last: most functions are always called the
    // same way, so the common path is one atomic load and one compare.
    auto* shape = static_cast<CallShape*>(fn.callCache.load(std::memory_order_acquire));
    if (shape == nullptr || shape->key != key) {
        shape = shapes().shape(key, args);
        fn.callCache.store(shape, std::memory_order_release);
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
    ffi_call(&shape->cif, fn.fn, &result, values.data());
    return static_cast<std::int32_t>(result);
}

} // namespace host::detail::dllos
