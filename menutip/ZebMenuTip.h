// Module ZebMenuTip: the menu tip worker, a thread object of class ZebMenuTip_ that shows one
// tip per run near the pointer, and the two functions through which the menus show and hide
// tips. The tip functions and the methods show, hide and destroy run on the start thread.
#pragma once

#include <host/drawing.h>
#include <host/threads.h>
#include <host/values.h>

#include <atomic>
#include <memory>
#include <optional>

// Shows cTip near the pointer (making the tip worker on first use), or hides the tip when
// cTip is NIL or empty. Returns NIL.
std::nullopt_t ShowMenuTip_(const host::Text& cTip);
// Hides the tip, if there is a tip worker. Returns NIL.
std::nullopt_t HideMenuTip_();

namespace menutip_inspect {
struct State;
State Inspect();
} // namespace menutip_inspect

class ZebMenuTip_ : public host::Thread {
  public:
    // The class function ZebMenuTip_(): defines and registers the class "ZebMenuTip_" on its
    // first call and returns the class object. A C++ class and a function cannot share a name,
    // so the class function is this static member; `new` is classFunction()->New().
    static std::shared_ptr<host::ClassObject> classFunction();

    // Exported instance methods.
    void destroy();
    std::shared_ptr<ZebMenuTip_> show(const host::Text& cTip);
    void hide();

    // Exported class methods. Their receiver is the class object, passed as `self`.
    static std::shared_ptr<host::ClassObject>
    quitThread(const std::shared_ptr<host::ClassObject>& self);
    static std::shared_ptr<host::ClassObject>
    initClass(const std::shared_ptr<host::ClassObject>& self, const host::ThreadArgs& args = {});

    // Exported read-only instance variables oDrawTip and oTip.
    const std::shared_ptr<host::XbpPresSpace>& drawTip() const { return oDrawTip; }
    const std::shared_ptr<host::XbpBitmap>& tipBitmap() const { return oTip; }

  private:
    struct Token {};

  public:
    // Public for make_shared only: instances are made by the class object's New.
    explicit ZebMenuTip_(Token) {}

  protected:
    // The painting loop: one tip per run, on the worker thread.
    void execute(const host::ThreadArgs& args) override;
    std::shared_ptr<ZebMenuTip_> init();

    host::Color nColorBg = 0;
    host::Color nColorBox = 0;
    host::Color nColorTip = 0;
    // Shared by the start thread (sets it to show, clears it to stop) and the worker (reads it
    // before every pass, clears it when done).
    std::atomic<bool> lShow{false};

  private:
    std::shared_ptr<host::XbpPresSpace> oDrawTip;
    std::shared_ptr<host::XbpBitmap> oTip;

    friend menutip_inspect::State menutip_inspect::Inspect();
};

// For tests and benchmarks only: a look at the module's state, and a probe on the painting
// loop. Nothing in the program uses these.
namespace menutip_inspect {

struct State {
    std::shared_ptr<ZebMenuTip_> worker; // oMenuTip
    bool lShow = false;                  // the worker's lShow; false without a worker
    bool threadActive = false;           // a run of the worker's thread is in progress
    long long runs = 0;                  // runs started on the worker's thread
};
// Call on the start thread, as the tip functions are.
State Inspect();

enum class Stage {
    PausesDone, // the fifth pause has ended: placing and painting begins
    TipPainted, // the tip window is created and painted (requests sent)
    LoopEnded,  // the loop is left, before the window is destroyed
};
using Probe = void (*)(Stage);
// Called on the worker thread at each stage; nullptr (the default) for none.
void SetProbe(Probe probe);

} // namespace menutip_inspect
