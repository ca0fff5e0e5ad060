// Window-manager properties (ICCCM, EWMH) of the runtime's windows.
#include "wm.h"

#include "icon.h"

#include <host/application.h>

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <utility>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace host::x11 {
namespace {

void setAtoms(Connection& c, ::Window w, Atom property, const std::vector<Atom>& values) {
    XChangeProperty(c.dpy(), w, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
}

// The window class (ICCCM WM_CLASS): the program's name as instance, capitalised as class.
std::pair<std::string, std::string> windowClass() {
    const std::string instance = ProgramName();
    std::string cls = instance;
    cls[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(cls[0])));
    return {instance, cls};
}

// _NET_WM_ICON: for each size, width, height, then the pixels as ARGB; a format-32 property
// travels as C longs (EWMH, "Application Window Properties").
std::vector<long> iconProperty() {
    std::vector<long> data;
    for (const int size : icon::kSizes) {
        data.push_back(size);
        data.push_back(size);
        for (const std::uint32_t argb : icon::Argb(size)) {
            data.push_back(static_cast<long>(argb));
        }
    }
    return data;
}

// What task bars and window managers read besides the name: input and initial state
// (WM_HINTS, with the window group), the process and its machine so a "force quit" can work
// (_NET_WM_PID with WM_CLIENT_MACHINE), the client leader and the icon.
void setDesktopProperties(Connection& c, ::Window w, ::Window leader) {
    Display* dpy = c.dpy();
    XWMHints wmHints{};
    wmHints.flags = InputHint | StateHint | WindowGroupHint;
    wmHints.input = True;
    wmHints.initial_state = NormalState;
    wmHints.window_group = leader;
    XSetWMHints(dpy, w, &wmHints);

    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0]) {
        char* list[] = {host};
        XTextProperty machine{};
        if (XStringListToTextProperty(list, 1, &machine)) {
            XSetWMClientMachine(dpy, w, &machine);
            XFree(machine.value);
        }
        // EWMH: _NET_WM_PID is only meaningful together with WM_CLIENT_MACHINE.
        const long pid = ::getpid();
        XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
    }
    const long leaderId = static_cast<long>(leader);
    XChangeProperty(dpy, w, XInternAtom(dpy, "WM_CLIENT_LEADER", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&leaderId), 1);

    static const std::vector<long> kIcon = iconProperty(); // drawn once per process
    XChangeProperty(dpy, w, XInternAtom(dpy, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(kIcon.data()),
                    static_cast<int>(kIcon.size()));
}

} // namespace

void SetTitle(Connection& c, ::Window w, const std::string& title) {
    const Atoms& a = c.atoms();
    XChangeProperty(c.dpy(), w, a.netWmName, a.utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XStoreName(c.dpy(), w, title.c_str());
}

void SetManagedProperties(Connection& c, ::Window w, const ManagedProps& props) {
    Display* dpy = c.dpy();
    const Atoms& a = c.atoms();
    SetTitle(c, w, props.title);
    auto [instance, cls] = windowClass();
    XClassHint classHint{instance.data(), cls.data()};
    XSetClassHint(dpy, w, &classHint);
    Atom protocols[] = {a.wmDeleteWindow};
    XSetWMProtocols(dpy, w, protocols, 1);
    setAtoms(c, w, a.netWmWindowType, {props.type});
    XSizeHints hints{};
    hints.flags = USPosition | USSize | PPosition | PSize;
    hints.x = props.placed.x;
    hints.y = props.placed.y;
    hints.width = props.placed.width;
    hints.height = props.placed.height;
    if (props.fixedSize) {
        hints.flags |= PMinSize | PMaxSize;
        hints.min_width = hints.max_width = props.placed.width;
        hints.min_height = hints.max_height = props.placed.height;
    }
    XSetWMNormalHints(dpy, w, &hints);
    if (!props.states.empty()) {
        setAtoms(c, w, a.netWmState, props.states);
    }
    if (!props.decorated) {
        // _MOTIF_WM_HINTS: flags = decorations, decorations = none.
        long motif[5] = {2, 0, 0, 0, 0};
        XChangeProperty(dpy, w, a.motifWmHints, a.motifWmHints, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(motif), 5);
    }
    if (props.transientFor) {
        XSetTransientForHint(dpy, w, props.transientFor);
    }
    setDesktopProperties(c, w, props.transientFor ? props.transientFor : w);
}

void SetWindowType(Connection& c, ::Window w, Atom type, ::Window transientFor) {
    setAtoms(c, w, c.atoms().netWmWindowType, {type});
    if (transientFor) {
        XSetTransientForHint(c.dpy(), w, transientFor);
    }
}

} // namespace host::x11
