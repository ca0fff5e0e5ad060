// A small library for the dynamic-call tests: counts its loads and offers functions with
// numbers, texts and many arguments. PROBE_WHERE tells which copy of it was loaded.
#include <cstdint>
#include <cstring>

#define PROBE_API extern "C" __attribute__((visibility("default")))

namespace {
int loads = 0;
[[gnu::constructor]] void loaded() {
    ++loads;
}
} // namespace

PROBE_API int ProbeLoads(void) {
    return loads;
}
PROBE_API int ProbeWhere(void) {
    return PROBE_WHERE;
}
PROBE_API int ProbeAdd(int a, int b) {
    return a + b;
}
PROBE_API int ProbeLength(const char* s) {
    return static_cast<int>(std::strlen(s));
}

// Sum of byte value times (position + 1) over n bytes: sees bytes past an embedded NUL.
PROBE_API int ProbeByteSum(const char* bytes, int n) {
    int sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += static_cast<unsigned char>(bytes[i]) * (i + 1);
    }
    return sum;
}

// Eight arguments: six go in registers, the rest on the stack.
PROBE_API int ProbeMixed(int a, const char* s, int b, const char* t, int c, int d, int e, int f) {
    return a + static_cast<int>(std::strlen(s)) * 10 + b * 100 +
           static_cast<int>(std::strlen(t)) * 1000 + c + d + e * 10000 + f * 100000;
}
