// Tip sizes measured through the runtime's public drawing API, as the tip worker measures them.
// The runtime keeps one X connection per thread until the thread ends; measuring on a thread of
// its own closes that connection at once, before the tour's private server may stop.
#include "tipsize.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

#include <exception>
#include <thread>

namespace tour {

namespace {

std::map<std::string, Size> measure(const std::vector<std::string>& texts) {
    auto ps = host::XbpPresSpace::New()->create();
    const auto desktop = host::AppDesktop();
    ps->setFont(desktop->lockPS()->setFont());
    desktop->unlockPS();
    std::map<std::string, Size> sizes;
    for (const auto& text : texts) {
        const host::TextBox box = host::GraQueryTextBox(ps, text);
        sizes[text] = {box.upperRight.x - box.lowerLeft.x + 8,
                       box.upperRight.y - box.lowerLeft.y + 6};
    }
    return sizes;
}

} // namespace

std::map<std::string, Size> tipSizes(const std::vector<std::string>& texts) {
    std::map<std::string, Size> sizes;
    std::exception_ptr failure;
    std::thread([&] {
        try {
            sizes = measure(texts);
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return sizes;
}

} // namespace tour
