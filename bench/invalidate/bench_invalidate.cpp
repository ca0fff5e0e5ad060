// Times ApiLoadDll_ for a library already loaded, and DllExecuteCall against a direct call
// through a function pointer, in the same run. Prints medians of many batches, in ns.
#include <host/dll.h>
#include <invalidate/invalidate.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int BenchNop(int n);
extern "C" int BenchNop4(int hwnd, const char* rect, int region, int flags);

namespace {

volatile int sink = 0;

// Median over `samples` batches of the time per call of `body`, in nanoseconds.
template <typename F> double medianNs(F&& body, int samples = 201, int batch = 20000) {
    std::vector<double> perCall;
    perCall.reserve(static_cast<std::size_t>(samples));
    for (int s = 0; s < samples; ++s) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < batch; ++i) {
            body(i);
        }
        const std::chrono::duration<double, std::nano> took =
            std::chrono::steady_clock::now() - start;
        perCall.push_back(took.count() / batch);
    }
    std::nth_element(perCall.begin(), perCall.begin() + samples / 2, perCall.end());
    return perCall[static_cast<std::size_t>(samples / 2)];
}

} // namespace

int main() {
    // ApiLoadDll_ for a name already in its table.
    if (Invalidate::ApiLoadDll_("BenchNop.dll") == 0) {
        std::fprintf(stderr, "libbenchnop.so not found beside the executable\n");
        return 1;
    }
    const double load =
        medianNs([](int) { sink = sink + (Invalidate::ApiLoadDll_(" BenchNop ") != 0); });
    std::printf("ApiLoadDll_ (already loaded)      median %8.1f ns   limit 1000 ns  %s\n", load,
                load <= 1000 ? "ok" : "OVER");

    const long long h = host::DllLoad("benchnop.dll");
    const auto nop = host::DllPrepareCall(h, host::DLL_STDCALL, "BenchNop");
    const auto nop4 = host::DllPrepareCall(h, host::DLL_STDCALL, "BenchNop4");
    if (!nop || !nop4) {
        std::fprintf(stderr, "cannot prepare the calls\n");
        return 1;
    }
    // Through a volatile pointer, so the compiler cannot inline the direct call.
    int (*volatile direct)(int) = &BenchNop;
    int (*volatile direct4)(int, const char*, int, int) = &BenchNop4;
    const std::string rect(16, '\x01');

    const double d1 = medianNs([&](int i) { sink = sink + direct(i); });
    const double e1 =
        medianNs([&](int i) { sink = sink + static_cast<int>(host::DllExecuteCall(nop, i)); });
    const double d4 = medianNs([&](int i) { sink = sink + direct4(i, rect.c_str(), 0, 392); });
    const double e4 = medianNs([&](int i) {
        sink = sink + static_cast<int>(host::DllExecuteCall(nop4, i, rect, 0, 392));
    });

    std::printf("direct call, 1 number             median %8.1f ns\n", d1);
    std::printf("DllExecuteCall, 1 number          median %8.1f ns   overhead %6.1f ns (%.1fx)  "
                "limit 100 ns  %s\n",
                e1, e1 - d1, e1 / d1, e1 - d1 <= 100 ? "ok" : "OVER");
    std::printf("direct call, 3 numbers + 1 text   median %8.1f ns\n", d4);
    std::printf("DllExecuteCall, 3 numbers + text  median %8.1f ns   overhead %6.1f ns (%.1fx)  "
                "limit 100 ns  %s\n",
                e4, e4 - d4, e4 / d4, e4 - d4 <= 100 ? "ok" : "OVER");
    return 0;
}
