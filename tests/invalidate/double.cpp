// A test double of the window library, built as libuser32.so beside the tests that use it:
// records every call with its arguments and fails the call a test asks for. Built without
// InvalidateRect when DOUBLE_WITHOUT_INVALIDATE is set.
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#define DOUBLE_API extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::int32_t DesktopHandle = 0x5eed;

struct Call {
    int function = 0; // 1 GetDesktopWindow, 2 InvalidateRect, 3 UpdateWindow, 4 RedrawWindow
    std::int32_t hwnd = 0;
    std::array<unsigned char, 16> rect{};
    std::int32_t third = 0; // erase or region
    std::uint32_t flags = 0;
};

std::mutex mutex;
std::vector<Call> calls;
int failAt = 0; // 1-based number of the call that fails; 0: none
int loads = 0;
[[gnu::constructor]] void loaded() {
    ++loads;
}

std::int32_t record(Call call, std::int32_t success) {
    const std::lock_guard lock(mutex);
    calls.push_back(call);
    return static_cast<int>(calls.size()) == failAt ? 0 : success;
}

Call withRect(int function, std::int32_t hwnd, const unsigned char* rect) {
    Call c{function, hwnd, {}, 0, 0};
    for (std::size_t i = 0; i < c.rect.size(); ++i) {
        c.rect[i] = rect[i];
    }
    return c;
}

} // namespace

DOUBLE_API std::int32_t GetDesktopWindow(void) {
    return record({1, 0, {}, 0, 0}, DesktopHandle);
}

#ifndef DOUBLE_WITHOUT_INVALIDATE
DOUBLE_API std::int32_t InvalidateRect(std::int32_t hwnd, const unsigned char* rect,
                                       std::int32_t erase) {
    Call c = withRect(2, hwnd, rect);
    c.third = erase;
    return record(c, 1);
}
#endif

DOUBLE_API std::int32_t UpdateWindow(std::int32_t hwnd) {
    return record({3, hwnd, {}, 0, 0}, 1);
}

DOUBLE_API std::int32_t RedrawWindow(std::int32_t hwnd, const unsigned char* rect,
                                     std::int32_t region, std::uint32_t flags) {
    Call c = withRect(4, hwnd, rect);
    c.third = region;
    c.flags = flags;
    return record(c, 1);
}

// The test's side, called through the runtime too.
DOUBLE_API std::int32_t DoubleReset(std::int32_t failingCall) {
    const std::lock_guard lock(mutex);
    calls.clear();
    failAt = failingCall;
    return 1;
}

DOUBLE_API std::int32_t DoubleCount(void) {
    const std::lock_guard lock(mutex);
    return static_cast<std::int32_t>(calls.size());
}

// field 0: function, 1: hwnd, 2: erase or region, 3: flags
DOUBLE_API std::int32_t DoubleField(std::int32_t index, std::int32_t field) {
    const std::lock_guard lock(mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= calls.size()) {
        return -1;
    }
    const Call& c = calls[static_cast<std::size_t>(index)];
    switch (field) {
    case 0:
        return c.function;
    case 1:
        return c.hwnd;
    case 2:
        return c.third;
    default:
        return static_cast<std::int32_t>(c.flags);
    }
}

DOUBLE_API std::int32_t DoubleRectByte(std::int32_t index, std::int32_t byte) {
    const std::lock_guard lock(mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= calls.size() || byte < 0 || byte >= 16) {
        return -1;
    }
    return calls[static_cast<std::size_t>(index)].rect[static_cast<std::size_t>(byte)];
}

DOUBLE_API std::int32_t DoubleLoads(void) {
    return loads;
}
