// The size a tip gets for its text: the text's box in the desktop's font plus 4 pixels left
// and right and 3 above and below.
#pragma once

#include "tour.h"

#include <map>
#include <string>
#include <vector>

namespace tour {

// The desktop's font as the design names it (a fontconfig default).
inline constexpr const char* kDesktopFont = "Sans 10";

// Measured with pango on an image surface, independently of the runtime.
std::map<std::string, Size> tipSizes(const std::vector<std::string>& texts);

} // namespace tour
