// The tests' view of the window-library double (double.cpp), reached through the runtime's
// dynamic calls like the program reaches the window library.
#pragma once

#include <host/dll.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testdouble {

enum Function { GetDesktopWindow = 1, InvalidateRect = 2, UpdateWindow = 3, RedrawWindow = 4 };
inline constexpr long long DesktopHandle = 0x5eed;

struct Call {
    int function = 0;
    long long hwnd = 0;
    long long third = 0; // erase or region
    long long flags = 0;
    std::string rect; // the 16 bytes the callee received
};

class WindowLibrary {
  public:
    WindowLibrary() : handle_(host::DllLoad("user32.dll")) {
        EXPECT_NE(handle_, 0) << "the double libuser32.so is not beside the test";
    }

    // Clears the record; call number `failingCall` (counted from 1) will return 0.
    void reset(int failingCall = 0) const { run("DoubleReset", failingCall); }
    long long loads() const { return run("DoubleLoads"); }
    long long count() const { return run("DoubleCount"); }

    std::vector<Call> calls() const {
        std::vector<Call> out;
        const long long n = count();
        for (long long i = 0; i < n; ++i) {
            Call c;
            c.function = static_cast<int>(run("DoubleField", i, 0));
            c.hwnd = run("DoubleField", i, 1);
            c.third = run("DoubleField", i, 2);
            c.flags = run("DoubleField", i, 3);
            if (c.function == InvalidateRect || c.function == RedrawWindow) {
                for (int b = 0; b < 16; ++b) {
                    c.rect += static_cast<char>(run("DoubleRectByte", i, b));
                }
            }
            out.push_back(c);
        }
        return out;
    }

  private:
    template <typename... Args> long long run(const char* name, Args... args) const {
        return host::DllExecuteCall(host::DllPrepareCall(handle_, host::DLL_STDCALL, name),
                                    static_cast<long long>(args)...);
    }
    long long handle_;
};

} // namespace testdouble
