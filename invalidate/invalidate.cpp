// Desktop rectangle repaint through the window library's InvalidateRect, UpdateWindow and
// RedrawWindow, called dynamically. Each function's statics are guarded by its own mutex.
#include <host/dll.h>
#include <host/values.h>
#include <invalidate/invalidate.h>

#include <mutex>
#include <vector>

namespace Invalidate {

namespace {

// One row of the loaded-library table: {normal-form name, handle}.
struct LoadedDll {
    std::string name;   // element 1
    long long handle{}; // element 2
};

constexpr long long RDW_INVALIDATE = 1;
constexpr long long RDW_VALIDATE_ALLCHILDREN_UPDATENOW = 392;
constexpr long long RDW_ALLCHILDREN_UPDATENOW = 384;

} // namespace

long long ApiLoadDll_(std::string cDll) {
    static std::mutex lock;
    static std::vector<LoadedDll> aDllLoaded;
    const std::lock_guard guard(lock);

    // One key per library however callers spell it: trimmed, lower case, ending in ".dll".
    cDll = host::Lower(host::AllTrim(cDll));
    if (host::Right(cDll, 4) != ".dll") {
        cDll += ".dll";
    }
    const host::Callback<bool(const LoadedDll&)> matches(
        "{|x| x[01] == cDll}", [&cDll](const LoadedDll& x) { return x.name == cDll; });
    if (const std::size_t nPos = host::AScan(aDllLoaded, matches); nPos != 0) {
        return aDllLoaded[nPos - 1].handle;
    }
    // Loaded once; a failed load is remembered too, so it is not tried again.
    const long long nDllHandle = host::DllLoad(cDll);
    host::AAdd(aDllLoaded, LoadedDll{cDll, nDllHandle});
    return nDllHandle;
}

bool ApiInvalidateRect_(std::optional<long long> nHWND, long long nLeft, long long nTop,
                        long long nBottom, long long nRight) {
    static std::mutex lock;
    static host::DllPrepared cInvalidate;
    static host::DllPrepared cUpdate;
    static host::DllPrepared cRedraw;
    static host::DllPrepared cDesktopHWND;

    // Copies taken under the lock; the calls themselves run without it.
    host::DllPrepared invalidate;
    host::DllPrepared update;
    host::DllPrepared redraw;
    host::DllPrepared desktopHWND;
    {
        const std::lock_guard guard(lock);
        // The four calls are prepared together on first use and kept for the process.
        if (!cInvalidate) {
            const long long nDll = ApiLoadDll_("User32.dll");
            cInvalidate = host::DllPrepareCall(nDll, host::DLL_STDCALL, "InvalidateRect");
            cUpdate = host::DllPrepareCall(nDll, host::DLL_STDCALL, "UpdateWindow");
            cRedraw = host::DllPrepareCall(nDll, host::DLL_STDCALL, "RedrawWindow");
            cDesktopHWND = host::DllPrepareCall(nDll, host::DLL_STDCALL, "GetDesktopWindow");
        }
        invalidate = cInvalidate;
        update = cUpdate;
        redraw = cRedraw;
        desktopHWND = cDesktopHWND;
    }

    // The window library's rectangle record: left, top, right, bottom as 32-bit integers,
    // least significant byte first (note the arguments come in the order left, top, bottom,
    // right). Coordinates are the window library's own: origin top left, y down.
    const std::string cRect =
        host::L2Bin(nLeft) + host::L2Bin(nTop) + host::L2Bin(nRight) + host::L2Bin(nBottom);
    // Whatever window was passed, the desktop is repainted.
    nHWND = host::DllExecuteCall(desktopHWND);

    // Invalidate (erasing the background), update, then redraw with the children; the first
    // call that fails ends the chain.
    bool lOk = host::DllExecuteCall(invalidate, *nHWND, cRect, 1) != 0;
    if (lOk) {
        lOk = host::DllExecuteCall(update, *nHWND) != 0;
    }
    if (lOk) {
        lOk = host::DllExecuteCall(redraw, *nHWND, cRect, 0, RDW_INVALIDATE) != 0;
    }
    if (lOk) {
        lOk =
            host::DllExecuteCall(redraw, *nHWND, cRect, 0, RDW_VALIDATE_ALLCHILDREN_UPDATENOW) != 0;
    }
    if (lOk) {
        lOk = host::DllExecuteCall(redraw, *nHWND, cRect, 0, RDW_ALLCHILDREN_UPDATENOW) != 0;
    }
    return lOk;
}

} // namespace Invalidate
