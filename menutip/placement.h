// Where a menu tip goes and where its parts are painted: pure arithmetic in host coordinates
// (origin lower left, y up), kept apart from the painting loop so it can be checked alone.
#pragma once

#include <host/drawing.h>
#include <host/values.h>

struct TipPlacement {
    host::Rect stay;   // where the pointer may go and the tip stays (edges included)
    host::Size size;   // the tip window's size
    host::Point start; // the tip window's lower left corner
};

// `mouse` is the pointer's first position, `box` the text's box in the tip's font, `rightEdge`
// the first column right of the monitor (the desktop's width on a single monitor).
constexpr TipPlacement PlaceTip(host::Point mouse, const host::TextBox& box, int rightEdge) {
    TipPlacement p;
    // The pointer may move 8 pixels each way, edges included, and the tip stays.
    p.stay = {mouse.x - 8, mouse.y - 8, mouse.x + 8, mouse.y + 8};
    // The text with 4 pixels on either side and 3 above and below.
    p.size = {box.upperRight.x - box.lowerLeft.x + 8, box.upperRight.y - box.lowerLeft.y + 6};
    p.start = mouse;
    // Pulled back at the right edge only: a tip wider than the monitor starts left of it.
    if (p.start.x + p.size.width > rightEdge) {
        p.start.x = rightEdge - p.size.width;
    }
    // 40 pixels below the pointer; near the bottom edge only raised by 8.
    p.start.y -= 40;
    if (p.start.y < 0) {
        p.start.y += 8;
    }
    return p;
}

// True when the pointer has left the stay square.
constexpr bool LeftStaySquare(const host::Rect& stay, host::Point pointer) {
    return pointer.x < stay.x1 || pointer.x > stay.x2 || pointer.y < stay.y1 || pointer.y > stay.y2;
}

// The tip's picture in its drawing area: a filled background, a one-pixel frame one pixel
// inside the edge, and the text's baseline start.
struct TipPaint {
    host::Rect background;
    host::Rect frame;
    host::Point text;
};

constexpr TipPaint PaintTip(host::Size size) {
    return {
        {0, 0, size.width - 1, size.height - 1}, {1, 1, size.width - 2, size.height - 2}, {3, 4}};
}
