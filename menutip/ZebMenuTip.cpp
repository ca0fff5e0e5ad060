// Module ZebMenuTip: the class ZebMenuTip_ (the tip worker), its painting loop `execute`, and
// the tip functions ShowMenuTip_ and HideMenuTip_.
#include "menutip/ZebMenuTip.h"

#include "menutip/placement.h"

#include <host/application.h>
#include <host/windows.h>

#include <string>

namespace {

// The tip worker, or NIL. Set by the worker's own init, cleared by destroy.
std::shared_ptr<ZebMenuTip_> oMenuTip;

// While a tip shows, the worker sleeps until the pointer moves (or hide stops it). A warp moves
// the pointer without motion events; the wait gives up after this many hundredths of a second
// and the pointer is read anyway.
constexpr int kPointerWait = 50;

std::atomic<menutip_inspect::Probe> probe{nullptr};

void notifyProbe(menutip_inspect::Stage stage) {
    if (const auto p = probe.load(std::memory_order_acquire)) {
        p(stage);
    }
}

} // namespace

// ---- Class function and class methods ------------------------------------------------------

std::shared_ptr<host::ClassObject> ZebMenuTip_::classFunction() {
    using host::Exposure;
    using host::MethodKind;
    // 1. Take the class-registry lock (released on every way out of this function).
    auto lock = host::ClassRegistry::lock();
    // 2. Already registered: return it.
    if (auto cls = lock.find("ZebMenuTip_")) {
        return cls;
    }
    // 3. The single base: the host's Thread class.
    auto base = host::Thread::classFunction();
    // 4. Create the class with that base, six instance variables and seven methods.
    auto def = lock.create("ZebMenuTip_", {base}, 6, 7);
    // 5. The instance variables, in order.
    def.var("nColorBg", Exposure::Protected)
        .var("nColorBox", Exposure::Protected)
        .var("nColorTip", Exposure::Protected)
        .var("lShow", Exposure::Protected)
        .var("oDrawTip", Exposure::ExportedReadOnly)
        .var("oTip", Exposure::ExportedReadOnly);
    // 6. The methods, in order.
    def.method("execute", Exposure::Protected, MethodKind::Instance)
        .method("init", Exposure::Protected, MethodKind::Instance)
        .method("destroy", Exposure::Exported, MethodKind::Instance)
        .method("show", Exposure::Exported, MethodKind::Instance)
        .method("hide", Exposure::Exported, MethodKind::Instance)
        .method("quitThread", Exposure::Exported, MethodKind::Class)
        .method("initClass", Exposure::Exported, MethodKind::Class);
    def.factory([] {
        auto object = std::make_shared<ZebMenuTip_>(Token{});
        object->init();
        return object;
    });
    def.initClass([](const std::shared_ptr<host::ClassObject>& self) { initClass(self); });
    // 7. Close and register the class; registration runs its initClass.
    // 8. The lock is released as `lock` goes out of scope.
    return lock.registerClass(std::move(def));
}

std::shared_ptr<host::ClassObject>
ZebMenuTip_::initClass(const std::shared_ptr<host::ClassObject>& self,
                       const host::ThreadArgs& args) {
    host::Thread::initClass(self, args);
    return self;
}

std::shared_ptr<host::ClassObject>
ZebMenuTip_::quitThread(const std::shared_ptr<host::ClassObject>& self) {
    // 1. `hide` sent to the class object: the class object shows no tip, so nothing to stop.
    // 2. No more repeats of the routine.
    self->threadPart().setInterval(host::Nil);
    // 3. End the worker thread that runs this (the class object's Thread part acts on it).
    self->threadPart().quit();
    // 4.
    return self;
}

// ---- Instance methods ------------------------------------------------------------------------

std::shared_ptr<ZebMenuTip_> ZebMenuTip_::init() {
    // 1. The presentation space in which tips are measured.
    oDrawTip = host::XbpPresSpace::New()->create();
    // 2.-3. It takes the desktop's current font.
    const auto desktopPS = host::AppDesktop()->lockPS();
    oDrawTip->setFont(desktopPS->setFont());
    host::AppDesktop()->unlockPS();
    // 4. A bitmap bound to it.
    oTip = host::XbpBitmap::New()->create();
    oTip->presSpace(oDrawTip);
    // 5. Pale yellow background, red frame, dark indigo text.
    nColorBg = host::GraMakeRGBColor({255, 255, 180});
    nColorBox = host::GraMakeRGBColor({255, 0, 0});
    nColorTip = host::GraMakeRGBColor({40, 25, 115});
    // 6.
    lShow = false;
    // 7. Every new tip worker makes itself the module's tip worker.
    auto self = std::static_pointer_cast<ZebMenuTip_>(shared_from_this());
    oMenuTip = self;
    // 8.
    host::Thread::init();
    // 9.
    return self;
}

std::shared_ptr<ZebMenuTip_> ZebMenuTip_::show(const host::Text& cTip) {
    auto self = std::static_pointer_cast<ZebMenuTip_>(shared_from_this());
    // 1. End a tip in progress and wait for its run to end.
    hide();
    // 2.
    lShow = true;
    // 3. execute(cTip) runs on the worker thread.
    start(host::Nil, cTip);
    // 4.
    return self;
}

void ZebMenuTip_::hide() {
    // 1.
    if (!lShow) {
        return;
    }
    // 2. The painting loop sees this before its next pass; the stop request ends its pause or
    // its wait for the pointer at once, so the caller never waits out a tenth of a second.
    lShow = false;
    requestStop();
    // 3. Wait until the run has ended (its window is gone by then).
    if (active()) {
        synchronize(0);
    }
}

void ZebMenuTip_::destroy() {
    // Clearing oMenuTip below may drop the last reference but this one.
    const auto self = shared_from_this();
    // 1.
    hide();
    // 2.
    oMenuTip = nullptr;
    // 3. The worker thread ends itself: quitThread runs on it, with the class as receiver.
    start(
        host::Callback<void()>("{|| ::quitThread()}", [cls = classObject()] { quitThread(cls); }));
}

// ---- The painting loop ----------------------------------------------------------------------

void ZebMenuTip_::execute(const host::ThreadArgs& args) {
    const std::string cTip = host::TextArg(args, 0).value_or("");
    // 1.-3.
    host::Size aTipSize;
    int nCount = 0;
    const auto oDesk = host::AppDesktop();
    host::Point aMousePos;
    std::shared_ptr<host::XbpDialog> oDlg;
    TipPlacement place; // the stay square and the tip's corner, set in pass 6
    try {
        // 4. Five pauses of 0.1 s, then place and paint the tip, then poll the pointer.
        while (lShow) {
            ++nCount;
            if (nCount < 6) {
                host::Sleep(10);
            } else if (nCount == 6) {
                notifyProbe(menutip_inspect::Stage::PausesDone);
                // 1.-2. The pointer's position: the stay square and the tip start from it.
                aMousePos = host::GetPointerPos();
                // 3. The right edge of the monitor under the pointer.
                const int nDesktopWidth = host::MonitorAt(aMousePos).x2 + 1;
                // 5. The text's box in the tip's font.
                const host::TextBox aBox = host::GraQueryTextBox(oDrawTip, cTip);
                // 4., 6.-9. Stay square of 8 pixels each way; the text plus 8 by 6; pulled back
                // at the right edge; 40 below the pointer, raised by 8 when below the desktop.
                place = PlaceTip(aMousePos, aBox, nDesktopWidth);
                aTipSize = place.size;
                // 10.-11. An undecorated window above all others.
                oDlg = host::XbpDialog::New(
                    host::AppDesktop(), nullptr, place.start, aTipSize,
                    {{host::pp::Background, nColorBg}, {host::pp::Font, oDrawTip->setFont()}},
                    true);
                oDlg->border(1);
                oDlg->titlebar(false);
                oDlg->alwaysOnTop(true);
                oDlg->create();
                // 12.-16. Background, frame one pixel inside the edge, text.
                const TipPaint paint = PaintTip(aTipSize);
                const auto oPS = oDlg->drawingArea()->lockPS();
                oPS->setColor(nColorBg);
                host::GraBox(oPS, {paint.background.x1, paint.background.y1},
                             {paint.background.x2, paint.background.y2}, host::fill::Fill);
                oPS->setColor(nColorBox);
                host::GraBox(oPS, {paint.frame.x1, paint.frame.y1},
                             {paint.frame.x2, paint.frame.y2}, host::fill::Outline);
                oPS->setColor(nColorTip);
                host::GraStringAt(oPS, paint.text, cTip);
                oDlg->drawingArea()->unlockPS();
                notifyProbe(menutip_inspect::Stage::TipPainted);
            } else {
                // Poll: wait until the pointer has moved from where it was last read (or hide
                // stops the run), then read it. Leaving the square ends the loop at once.
                host::WaitPointerMove(aMousePos, kPointerWait);
                aMousePos = host::GetPointerPos();
                if (LeftStaySquare(place.stay, aMousePos)) {
                    break;
                }
                nCount = 7;
            }
        }
    } catch (...) {
        // The window (if any) goes with oDlg; the next show must find lShow cleared.
        lShow = false;
        throw;
    }
    notifyProbe(menutip_inspect::Stage::LoopEnded);
    // 5.
    if (oDlg) {
        oDlg->destroy();
    }
    // 6.
    lShow = false;
}

// ---- Tip functions ---------------------------------------------------------------------------

std::nullopt_t ShowMenuTip_(const host::Text& cTip) {
    // 1. The tip worker, made on first use.
    if (!oMenuTip) {
        oMenuTip = ZebMenuTip_::classFunction()->New<ZebMenuTip_>();
    }
    // 2.
    if (!host::Empty(cTip)) {
        oMenuTip->show(cTip);
    } else {
        oMenuTip->hide();
    }
    // 3.
    return host::Nil;
}

std::nullopt_t HideMenuTip_() {
    if (oMenuTip) {
        oMenuTip->hide();
    }
    return host::Nil;
}

// ---- Inspection for tests and benchmarks ---------------------------------------------------

namespace menutip_inspect {

State Inspect() {
    State s;
    s.worker = oMenuTip;
    if (oMenuTip) {
        s.lShow = oMenuTip->lShow;
        s.threadActive = oMenuTip->active();
        s.runs = oMenuTip->runCount();
    }
    return s;
}

void SetProbe(Probe p) {
    probe.store(p, std::memory_order_release);
}

} // namespace menutip_inspect
