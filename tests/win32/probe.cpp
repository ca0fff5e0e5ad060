// winprobe.dll: functions a dynamic call reaches, each answering what it was given.
#include <cstdint>
#include <cstring>

extern "C" {

__declspec(dllexport) int ProbeNone() {
    return 42;
}

// The sum of eight arguments weighted by position: a swapped or lost argument shows.
__declspec(dllexport) int ProbeEight(int a, int b, int c, int d, int e, int f, int g, int h) {
    return a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h;
}

// A 32-bit number reaches the callee sign-extended in its 64-bit slot.
__declspec(dllexport) int ProbeIsNegative(std::int64_t slot) {
    return slot < 0 ? 1 : 0;
}

// A number, a text and a number: n in the thousands, the text's length (to its NUL) in the
// tens, m in the ones, and 100 more when the text starts with "W".
__declspec(dllexport) int ProbeText(int n, const char* text, int m) {
    return n * 1000 + static_cast<int>(std::strlen(text)) * 10 + m + (text[0] == 'W' ? 100 : 0);
}
}
