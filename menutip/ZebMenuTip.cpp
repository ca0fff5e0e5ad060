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
    // Lookup and definition happen under the registry's lock (released on every way out), so
    // the class is defined once even when two threads ask at the same time.
    auto lock = host::ClassRegistry::lock();
    if (auto cls = lock.find("ZebMenuTip_")) {
        return cls;
    }
    // A thread class: its single base is the runtime's Thread.
    auto base = host::Thread::classFunction();
    auto def = lock.create("ZebMenuTip_", {base}, 6, 7);
    // Colours and the stop signal are the class's own; the measuring space and its bitmap can
    // be read by anyone.
    def.var("nColorBg", Exposure::Protected)
        .var("nColorBox", Exposure::Protected)
        .var("nColorTip", Exposure::Protected)
        .var("lShow", Exposure::Protected)
        .var("oDrawTip", Exposure::ExportedReadOnly)
        .var("oTip", Exposure::ExportedReadOnly);
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
    // Registration runs initClass once.
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
    // Sent to the class object, `hide` has no tip to stop. The class's Thread part acts on the
    // worker thread that runs this: no more repeats, and the thread ends.
    self->threadPart().setInterval(host::Nil);
    self->threadPart().quit();
    return self;
}

// ---- Instance methods ------------------------------------------------------------------------

std::shared_ptr<ZebMenuTip_> ZebMenuTip_::init() {
    // Tips are measured in a presentation space of their own, in the desktop's current font;
    // it is prepared once, not for every tip.
    oDrawTip = host::XbpPresSpace::New()->create();
    const auto desktopPS = host::AppDesktop()->lockPS();
    oDrawTip->setFont(desktopPS->setFont());
    host::AppDesktop()->unlockPS();
    oTip = host::XbpBitmap::New()->create();
    oTip->presSpace(oDrawTip);
    // Pale yellow background, red frame, dark indigo text.
    nColorBg = host::GraMakeRGBColor({255, 255, 180});
    nColorBox = host::GraMakeRGBColor({255, 0, 0});
    nColorTip = host::GraMakeRGBColor({40, 25, 115});
    lShow = false;
    // Every new tip worker makes itself the module's tip worker.
    auto self = std::static_pointer_cast<ZebMenuTip_>(shared_from_this());
    oMenuTip = self;
    host::Thread::init();
    return self;
}

std::shared_ptr<ZebMenuTip_> ZebMenuTip_::show(const host::Text& cTip) {
    auto self = std::static_pointer_cast<ZebMenuTip_>(shared_from_this());
    // A tip in progress ends first (and its run with it); then execute(cTip) runs on the worker
    // thread. The text travels as the run's argument, not through shared state.
    hide();
    lShow = true;
    start(host::Nil, cTip);
    return self;
}

void ZebMenuTip_::hide() {
    // Nothing to stop when no tip is wanted: no wait either.
    if (!lShow) {
        return;
    }
    // The painting loop sees this before its next pass; the stop request ends its pause or its
    // wait for the pointer at once, so the caller never waits out a tenth of a second.
    lShow = false;
    requestStop();
    // The run has ended, and its window is gone, when this returns.
    if (active()) {
        synchronize(0);
    }
}

void ZebMenuTip_::destroy() {
    // Clearing oMenuTip below may drop the last reference but this one.
    const auto self = shared_from_this();
    hide();
    oMenuTip = nullptr;
    // The worker thread ends itself: quitThread runs on it, with the class as receiver.
    start(
        host::Callback<void()>("{|| ::quitThread()}", [cls = classObject()] { quitThread(cls); }));
}

// ---- The painting loop ----------------------------------------------------------------------

void ZebMenuTip_::execute(const host::ThreadArgs& args) {
    const std::string cTip = host::TextArg(args, 0).value_or("");
    host::Size aTipSize;
    int nCount = 0;
    host::Point aMousePos;
    std::shared_ptr<host::XbpDialog> oDlg;
    TipPlacement place; // the stay square and the tip's corner, set in pass 6
    try {
        // Each pass first checks that the tip is still wanted: five pauses of 0.1 s, then the
        // tip is placed and painted, then the pointer is watched.
        while (lShow) {
            ++nCount;
            if (nCount < 6) {
                host::Sleep(10);
            } else if (nCount == 6) {
                notifyProbe(menutip_inspect::Stage::PausesDone);
                // The stay square and the tip both start from where the pointer is now; the
                // tip keeps inside the right edge of the monitor under the pointer.
                aMousePos = host::GetPointerPos();
                const int nDesktopWidth = host::MonitorAt(aMousePos).x2 + 1;
                const host::TextBox aBox = host::GraQueryTextBox(oDrawTip, cTip);
                // Stay square of 8 pixels each way; the text plus 8 by 6; pulled back at the
                // right edge; 40 below the pointer, raised by 8 when below the desktop.
                place = PlaceTip(aMousePos, aBox, nDesktopWidth);
                aTipSize = place.size;
                // An undecorated window above all others, in the measuring space's font.
                oDlg = host::XbpDialog::New(
                    host::AppDesktop(), nullptr, place.start, aTipSize,
                    {{host::pp::Background, nColorBg}, {host::pp::Font, oDrawTip->setFont()}},
                    true);
                oDlg->border(1);
                oDlg->titlebar(false);
                oDlg->alwaysOnTop(true);
                oDlg->create();
                // Painted once: background, a frame one pixel inside the edge, the text.
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
    // The tip goes with its run; a later show starts over.
    if (oDlg) {
        oDlg->destroy();
    }
    lShow = false;
}

// ---- Tip functions ---------------------------------------------------------------------------

std::nullopt_t ShowMenuTip_(const host::Text& cTip) {
    // The tip worker is made on first use; NIL and empty texts hide the tip.
    if (!oMenuTip) {
        oMenuTip = ZebMenuTip_::classFunction()->New<ZebMenuTip_>();
    }
    if (!host::Empty(cTip)) {
        oMenuTip->show(cTip);
    } else {
        oMenuTip->hide();
    }
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
