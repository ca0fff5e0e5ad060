// The confirmation box on Win32: the system's own MessageBoxW.
#include "../common/driver.h"
#include "dispatch.h"
#include "driver.h"
#include "object_state.h"
#include "system/utf16.h"

#include <host/error.h>

namespace host {

int win32::Win32Driver::confirmBox(const std::shared_ptr<XbpWindow>& owner,
                                   const std::string& message, const std::string& title,
                                   int buttons) {
    UINT type = MB_OK; // box::Ok; the core has checked the buttons
    if (buttons == box::OkCancel) {
        type = MB_OKCANCEL;
    } else if (buttons == box::YesNo) {
        type = MB_YESNO;
    }
    // Owned by a window of this thread (the application window when none is given), the box
    // disables it while open and gives it back the focus when it closes; without one, every
    // window of the thread is disabled (task-modal).
    HWND hwnd = nullptr;
    for (const auto& candidate : {owner, detail::AppWindow()}) {
        if (candidate && candidate->isCreated() && !Impl(*candidate).desktop &&
            Impl(*candidate).thread == GetCurrentThreadId()) {
            hwnd = Impl(*candidate).hwnd;
            break;
        }
    }
    if (!hwnd) {
        type |= MB_TASKMODAL;
    }
    const std::wstring text = system::ToUtf16(message);
    const std::wstring caption = system::ToUtf16(title);
    const int result = MessageBoxW(hwnd, text.c_str(), caption.c_str(), type | MB_SETFOREGROUND);
    win32::RaiseKeptError();
    if (result == 0) {
        throw Error("ConfirmBox", "the box could not be shown", {std::to_string(GetLastError())});
    }
    // The system's button numbers are the runtime's: IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7.
    return result;
}

} // namespace host
