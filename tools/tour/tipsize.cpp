// Tip sizes measured through the runtime's public drawing API, as the tip worker measures them.
#include "tipsize.h"

#include <host/application.h>
#include <host/drawing.h>
#include <host/windows.h>

namespace tour {

std::map<std::string, Size> tipSizes(const std::vector<std::string>& texts) {
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

} // namespace tour
