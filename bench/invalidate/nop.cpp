// Functions that return at once, for timing the dynamic-call path against a direct call.
#define NOP_API extern "C" __attribute__((visibility("default")))

NOP_API int BenchNop(int n) {
    return n;
}
NOP_API int BenchNop4(int hwnd, const char* rect, int region, int flags) {
    return hwnd + region + flags + (rect != nullptr ? 1 : 0);
}
