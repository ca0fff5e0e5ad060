// The tip for screen readers under Wine: its window answers WM_GETOBJECT with a tool tip named
// by its text, and announces itself with EVENT_OBJECT_SHOW and EVENT_OBJECT_HIDE. A test
// executable of its own: within the runtime test's process, after the other tests, Wine at
// times faults at exit once a tip window has been made.
#include "system/utf16.h"
#include "win32/object_state.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <gtest/gtest.h>
#include <oleacc.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace host;

namespace {

// Win events about the tip's client area, as "show"/"hide"/"name". An in-context hook is
// called inside NotifyWinEvent, on the tip's thread.
std::mutex tipMutex;
HWND watchedTip = nullptr;
std::vector<std::string> tipEvents;
void CALLBACK onWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                         DWORD) {
    std::lock_guard lock(tipMutex);
    if (hwnd != watchedTip || object != OBJID_CLIENT || child != CHILDID_SELF) {
        return;
    }
    tipEvents.push_back(event == EVENT_OBJECT_SHOW   ? "show"
                        : event == EVENT_OBJECT_HIDE ? "hide"
                                                     : "name");
}
bool saw(const std::string& e) {
    std::lock_guard lock(tipMutex);
    return std::find(tipEvents.begin(), tipEvents.end(), e) != tipEvents.end();
}

// Waits for `signal`, answering the messages sent to the calling thread's windows meanwhile.
void waitDispatching(HANDLE signal) {
    while (MsgWaitForMultipleObjects(1, &signal, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
    }
}

} // namespace

TEST(Win32Driver, ATipIsAToolTipNamedByItsTextAndAnnouncesItself) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // In context, so that Wine delivers the hide too: it drops an out-of-context event about
    // a window destroyed before the event was delivered.
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_NAMECHANGE, GetModuleHandleW(nullptr),
                        onWinEvent, GetCurrentProcessId(), 0, WINEVENT_INCONTEXT);
    ASSERT_NE(hook, nullptr);
    // A tip as the tip worker makes it, on a thread of its own: no title bar, on top, its
    // text drawn in its area; it stays until told to go, answering messages meanwhile.
    const std::string text = "Tip Explaining the option \"Reserve\"";
    HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker([&] {
        auto tip = XbpDialog::New(AppDesktop(), nullptr, Point{200, 200}, Size{240, 24}, {}, false);
        tip->titlebar(false);
        tip->alwaysOnTop(true);
        tip->create();
        {
            std::lock_guard lock(tipMutex);
            watchedTip = Impl(*tip).hwnd;
        }
        GraStringAt(tip->drawingArea()->lockPS(), {4, 8}, text);
        tip->drawingArea()->unlockPS();
        SetEvent(shown);
        waitDispatching(go);
        tip->destroy();
    });
    ASSERT_EQ(WaitForSingleObject(shown, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(saw("show")) << "the tip was not announced";

    // What a screen reader asks of the tip's window (WM_GETOBJECT, answered on its thread).
    IAccessible* acc = nullptr;
    EXPECT_EQ(AccessibleObjectFromWindow(watchedTip, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&acc)),
              S_OK);
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    if (acc) {
        VARIANT role{};
        EXPECT_EQ(acc->get_accRole(self, &role), S_OK);
        EXPECT_EQ(role.vt, VT_I4);
        EXPECT_EQ(role.lVal, ROLE_SYSTEM_TOOLTIP);
        BSTR name = nullptr;
        EXPECT_EQ(acc->get_accName(self, &name), S_OK);
        EXPECT_EQ(std::wstring(name ? name : L"", SysStringLen(name)), host::system::ToUtf16(text));
        SysFreeString(name);
    }
    // A dialog with a title bar is left to the system: it is no tip.
    auto dlg = XbpDialog::New(AppDesktop(), nullptr, Point{10, 10}, Size{100, 80}, {}, false);
    dlg->create();
    IAccessible* plain = nullptr;
    EXPECT_EQ(AccessibleObjectFromWindow(Impl(*dlg).hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&plain)),
              S_OK);
    if (plain) {
        VARIANT plainRole{};
        EXPECT_TRUE(plain->get_accRole(self, &plainRole) != S_OK ||
                    plainRole.lVal != ROLE_SYSTEM_TOOLTIP);
        plain->Release();
    }
    dlg->destroy();

    SetEvent(go);
    worker.join();
    EXPECT_TRUE(saw("hide")) << "the tip's going was not announced";
    // The object a client still holds no longer speaks for a window that is gone.
    if (acc) {
        BSTR name = nullptr;
        EXPECT_NE(acc->get_accName(self, &name), S_OK);
        SysFreeString(name);
        acc->Release();
    }
    CloseHandle(shown);
    CloseHandle(go);
    UnhookWinEvent(hook);
    CoUninitialize();
}
