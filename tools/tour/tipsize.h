// The size the runtime gives a tip for its text: the text's box in the desktop's font plus 4
// pixels left and right and 3 above and below.
#pragma once

#include "tour.h"

#include <map>
#include <string>
#include <vector>

namespace tour {

// Asks the runtime, on a thread of its own, on the X server named by $DISPLAY.
std::map<std::string, Size> tipSizes(const std::vector<std::string>& texts);

} // namespace tour
