// The tip as a screen reader sees it on Windows: WM_GETOBJECT on a tip window answers with an
// IAccessible of role tool tip named by the text drawn in it, and the tip announces itself
// (EVENT_OBJECT_SHOW once its text is there, EVENT_OBJECT_HIDE when it goes). Everything else
// is the system's standard object for the window's client area.
#include "tip_accessible.h"

#include "object_state.h"
#include "system/utf16.h"

#include <oleacc.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace host::win32 {

namespace {

// The tips' texts, by tip window. A tip is made and painted on the worker thread, and a
// client's WM_GETOBJECT reaches it there too, but nothing keeps another thread from asking.
struct Tips {
    std::mutex mutex;
    std::map<HWND, std::wstring> text;
};

// Never destroyed: a window object that outlives main (a static) still calls TipGone as it
// goes, after the statics made before it are gone.
Tips& tips() {
    static Tips& t = *new Tips;
    return t;
}

// Only a tip is a popup that never activates (see XbpDialog::create).
bool isTip(HWND hwnd) {
    return hwnd && (GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_NOACTIVATE) &&
           (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_POPUP);
}

std::optional<std::wstring> tipText(HWND hwnd) {
    Tips& t = tips();
    std::lock_guard lock(t.mutex);
    const auto it = t.text.find(hwnd);
    return it == t.text.end() ? std::nullopt : std::optional(it->second);
}

bool isSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The tip's object: role, name and state are the tip's own; the rest (location, parent,
// navigation, hit testing) is what the system's standard client object answers.
class TipAccessible final : public IAccessible {
  public:
    TipAccessible(HWND hwnd, IAccessible* standard) : hwnd_(hwnd), std_(standard) {}
    ~TipAccessible() { std_->Release(); }
    TipAccessible(const TipAccessible&) = delete;
    TipAccessible& operator=(const TipAccessible&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IDispatch)) ||
            IsEqualIID(iid, __uuidof(IAccessible))) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch: as the standard object.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        return std_->GetTypeInfoCount(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
        return std_->GetTypeInfo(i, l, t);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l,
                                            DISPID* d) override {
        return std_->GetIDsOfNames(r, n, c, l, d);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v,
                                     EXCEPINFO* e, UINT* a) override {
        return std_->Invoke(d, r, l, f, p, v, e, a);
    }

    // IAccessible: the tip's own answers.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) {
            return E_POINTER;
        }
        *name = nullptr;
        if (!isSelf(child)) {
            return E_INVALIDARG;
        }
        const auto text = tipText(hwnd_);
        if (!text) {
            return IsWindow(hwnd_) ? S_FALSE : RPC_E_DISCONNECTED; // gone: the object is dead
        }
        *name = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) {
            return E_POINTER;
        }
        if (!isSelf(child)) {
            return E_INVALIDARG;
        }
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_TOOLTIP;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) {
            return E_POINTER;
        }
        if (!isSelf(child)) {
            return E_INVALIDARG;
        }
        state->vt = VT_I4;
        state->lVal = STATE_SYSTEM_READONLY | (IsWindowVisible(hwnd_) ? 0 : STATE_SYSTEM_INVISIBLE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* n) override {
        if (!n) {
            return E_POINTER;
        }
        *n = 0; // the drawing area inside is no object of its own: the tip is its text
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** out) override {
        if (out) {
            *out = nullptr;
        }
        return E_INVALIDARG;
    }

    // IAccessible: the standard object's answers.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override {
        return std_->get_accParent(p);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* v) override {
        return std_->get_accValue(c, v);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT c, BSTR* d) override {
        return std_->get_accDescription(c, d);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override {
        return std_->get_accHelp(c, h);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, long* t) override {
        return std_->get_accHelpTopic(f, c, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override {
        return std_->get_accKeyboardShortcut(c, k);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* f) override { return std_->get_accFocus(f); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* s) override {
        return std_->get_accSelection(s);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override {
        return std_->get_accDefaultAction(c, a);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long f, VARIANT c) override {
        return std_->accSelect(f, c);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT c) override {
        return std_->accLocation(x, y, w, h, c);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long d, VARIANT s, VARIANT* e) override {
        return std_->accNavigate(d, s, e);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* c) override {
        return std_->accHitTest(x, y, c);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override {
        return std_->accDoDefaultAction(c);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    LONG refs_ = 1;
    HWND hwnd_;
    IAccessible* std_;
};

} // namespace

void TipTextDrawn(HWND drawnIn, const std::string& text) {
    const HWND tip = drawnIn ? GetAncestor(drawnIn, GA_ROOT) : nullptr;
    if (!isTip(tip)) {
        return;
    }
    bool first = false;
    {
        Tips& t = tips();
        std::lock_guard lock(t.mutex);
        auto [it, added] = t.text.try_emplace(tip);
        first = added;
        it->second = system::ToUtf16(text);
    }
    // The tip is on the screen already; it counts as shown once it says something.
    NotifyWinEvent(first ? EVENT_OBJECT_SHOW : EVENT_OBJECT_NAMECHANGE, tip, OBJID_CLIENT,
                   CHILDID_SELF);
}

void TipGone(HWND hwnd) {
    bool known = false;
    {
        Tips& t = tips();
        std::lock_guard lock(t.mutex);
        known = t.text.erase(hwnd) > 0;
    }
    if (known) {
        NotifyWinEvent(EVENT_OBJECT_HIDE, hwnd, OBJID_CLIENT, CHILDID_SELF);
    }
}

bool AnswerGetObject(HWND hwnd, WPARAM wp, LPARAM lp, LRESULT& result) {
    if (static_cast<LONG>(lp) != static_cast<LONG>(OBJID_CLIENT) || !isTip(hwnd)) {
        return false;
    }
    // Handing an object out goes through COM: the window's thread joins the multithreaded
    // apartment on its first request (a no-op when it is in an apartment already).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (void)com;
    IAccessible* standard = nullptr;
    if (FAILED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&standard))) ||
        !standard) {
        return false;
    }
    auto* tip = new TipAccessible(hwnd, standard);
    result = LresultFromObject(__uuidof(IAccessible), wp, tip);
    tip->Release(); // LresultFromObject holds its own reference while the client takes it
    return true;
}

} // namespace host::win32
