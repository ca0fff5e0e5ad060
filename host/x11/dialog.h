// Dialogs and their drawing areas on X11.
#pragma once

#include "object_state.h"

namespace host::x11 {

// Paints a drawing area's background and bitmap; used for its Paint event.
void PaintDrawingArea(detail::WindowImpl& w);

} // namespace host::x11
