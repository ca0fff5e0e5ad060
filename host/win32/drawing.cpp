// Drawing on Win32: presentation spaces over DIB sections (bitmaps, and a window's picture
// of its client area) or the screen's DC, fonts from descriptions, and the primitives with
// GDI: boxes, text, copies (the desktop capture included), and a linear gradient of our own.
#include "coords.h"
#include "driver.h"
#include "object_state.h"
#include "system/utf16.h"
#include "tip_accessible.h"

#include <host/application.h>
#include <host/error.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

namespace host {

using detail::PresSpaceImpl;
using Target = PresSpaceImpl::Target;

// ---- Surface -----------------------------------------------------------------------------

namespace win32 {

Surface::~Surface() {
    release();
}

void Surface::release() {
    if (dc_ && previous_) {
        SelectObject(dc_.get(), previous_); // the bitmap can only be deleted once deselected
    }
    previous_ = nullptr;
    bitmap_.reset();
    dc_.reset();
    bits_ = nullptr;
    width_ = height_ = 0;
}

bool Surface::make(int width, int height) {
    release();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down: row 0 is the top, as in GDI
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    BitmapPtr bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    MemoryDcPtr dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc || !bits) {
        return false;
    }
    previous_ = SelectObject(dc.get(), bitmap.get());
    bitmap_ = std::move(bitmap);
    dc_ = std::move(dc);
    bits_ = static_cast<std::uint8_t*>(bits);
    width_ = width;
    height_ = height;
    return true; // a new DIB section is all zeros: black
}

void Surface::clear() {
    if (bits_) {
        GdiFlush();
        std::memset(bits_, 0,
                    static_cast<std::size_t>(stride()) * static_cast<std::size_t>(height_));
    }
}

} // namespace win32

// ---- Painting a window ----------------------------------------------------------------------

namespace win32 {

void FillWith(HDC dc, const RECT& r, Color color) {
    const win32::BrushPtr brush(CreateSolidBrush(win32::ToColorRef(color)));
    FillRect(dc, &r, brush.get());
}

// A window's picture: a drawing area's bitmap, else what was drawn onto the window, else its
// background colour.
void PaintWindow(detail::WindowImpl& w, HDC dc) {
    RECT client{};
    GetClientRect(w.hwnd, &client);
    const int cw = client.right;
    const int ch = client.bottom;
    if (w.bitmap && !Impl(*w.bitmap).surface.empty()) {
        const win32::Surface& image = Impl(*w.bitmap).surface;
        if (w.options & bmp::Scaled) {
            // Scaled to fill the area, so a resized dialog still shows the whole picture.
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, 0, 0, cw, ch, image.dc(), 0, 0, image.width(), image.height(), SRCCOPY);
        } else {
            FillWith(dc, client, w.bg);
            BitBlt(dc, 0, ch - image.height(), image.width(), image.height(), image.dc(), 0, 0,
                   SRCCOPY);
        }
        return;
    }
    if (!w.backing.empty()) {
        FillWith(dc, client, w.bg);
        BitBlt(dc, 0, 0, w.backing.width(), w.backing.height(), w.backing.dc(), 0, 0, SRCCOPY);
        return;
    }
    FillWith(dc, client, w.bg);
}

} // namespace win32

// ---- Fonts -------------------------------------------------------------------------------

namespace {

int screenDpi() {
    const win32::WindowDc screen(nullptr);
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

LOGFONTW messageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        LOGFONTW fallback{};
        fallback.lfHeight = -13;
        std::wcscpy(fallback.lfFaceName, L"Tahoma");
        return fallback;
    }
    return metrics.lfMessageFont;
}

// "DejaVu Sans Bold Italic 12": family words, then style words and a size in points at the
// end. The generic families name the system's own faces.
LOGFONTW logFontFor(const Font& font) {
    std::istringstream words(font.description);
    std::vector<std::string> parts;
    for (std::string w; words >> w;) {
        parts.push_back(w);
    }
    LOGFONTW lf{};
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    double points = 10;
    if (!parts.empty()) {
        char* end = nullptr;
        const double n = std::strtod(parts.back().c_str(), &end);
        if (end && *end == '\0' && n > 0 && n < 1000) {
            points = n;
            parts.pop_back();
        }
    }
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    while (!parts.empty()) {
        const std::string w = lower(parts.back());
        if (w == "bold") {
            lf.lfWeight = FW_BOLD;
        } else if (w == "italic" || w == "oblique") {
            lf.lfItalic = TRUE;
        } else if (w != "regular" && w != "normal" && w != "book") {
            break;
        }
        parts.pop_back();
    }
    std::string family;
    for (const auto& p : parts) {
        family += (family.empty() ? "" : " ") + p;
    }
    const std::string generic = lower(family);
    std::wstring face;
    if (family.empty() || generic == "sans" || generic == "sans-serif") {
        face = messageFont().lfFaceName;
    } else if (generic == "serif") {
        face = L"Times New Roman";
    } else if (generic == "monospace" || generic == "mono") {
        face = L"Courier New";
    } else {
        face = system::ToUtf16(family);
    }
    face.resize(std::min<std::size_t>(face.size(), LF_FACESIZE - 1));
    std::wcscpy(lf.lfFaceName, face.c_str());
    lf.lfHeight = -static_cast<LONG>(std::lround(points * screenDpi() / 72.0));
    return lf;
}

// A DC for measuring text in spaces that have no surface yet (a space made only to measure).
HDC measuringDc() {
    thread_local win32::MemoryDcPtr dc(CreateCompatibleDC(nullptr));
    return dc.get();
}

} // namespace

namespace win32 {

HFONT FontFor(const Font& font) {
    static std::mutex mutex;
    static std::map<std::string, FontPtr> fonts;
    std::lock_guard lock(mutex);
    auto& slot = fonts[font.description];
    if (!slot) {
        const LOGFONTW lf = logFontFor(font);
        slot.reset(CreateFontIndirectW(&lf));
        if (!slot) {
            throw Error("font", "the system cannot make the font", {font.description});
        }
    }
    return slot.get();
}

} // namespace win32

Font win32::Win32Driver::defaultFont() {
    // The face and size the system uses for its message boxes.
    const LOGFONTW lf = messageFont();
    const long points = std::lround(std::abs(lf.lfHeight) * 72.0 / screenDpi());
    return Font{system::ToUtf8(lf.lfFaceName) + " " + std::to_string(points > 0 ? points : 9)};
}

detail::Driver::TextExtent win32::Win32Driver::measureText(const Font& font,
                                                           const std::string& text) {
    HDC dc = measuringDc();
    const win32::Selection selected(dc, win32::FontFor(font));
    const std::wstring wide = system::ToUtf16(text);
    SIZE extent{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    return {extent.cx, metrics.tmAscent, metrics.tmDescent};
}

// ---- PresSpaceImpl ---------------------------------------------------------------------

namespace detail {

HDC PresSpaceImpl::dc() {
    switch (target) {
    case Target::ToBitmap:
        return bitmap && !bitmap->surface.empty() ? bitmap->surface.dc() : nullptr;
    case Target::ToWindow:
        return window && !window->backing.empty() ? window->backing.dc() : nullptr;
    case Target::ToScreen:
        return screen ? screen->get() : nullptr;
    default:
        return nullptr;
    }
}

Size PresSpaceImpl::size() const {
    switch (target) {
    case Target::ToBitmap:
        return bitmap ? bitmap->size() : Size{};
    case Target::ToWindow:
        return window ? Size{window->backing.width(), window->backing.height()} : Size{};
    case Target::ToScreen:
        return win32::ScreenSize();
    default:
        return {};
    }
}

int PresSpaceImpl::height() const {
    return size().height;
}

void PresSpaceImpl::flush() {
    GdiFlush();
    if (target == Target::ToWindow && window && window->hwnd && !window->backing.empty()) {
        const win32::WindowDc dc(window->hwnd);
        BitBlt(dc.get(), 0, 0, window->backing.width(), window->backing.height(),
               window->backing.dc(), 0, 0, SRCCOPY);
    }
}

void PresSpaceImpl::unlocked() {
    flush();
    screen.reset();
}

void PresSpaceImpl::boundTo(BitmapState* b) {
    bitmap = static_cast<BitmapImpl*>(b);
}

} // namespace detail

// ---- PresSpaceImpl: drawing ----------------------------------------------------------

namespace detail {

bool PresSpaceImpl::beginDrawing() {
    return dc() != nullptr;
}

bool PresSpaceImpl::endDrawing() {
    flush();
    return true;
}

bool PresSpaceImpl::drawGradient(Point start, Point end, const std::vector<Color>& colors) {
    // GDI fills only horizontal and vertical gradients; this one runs in any direction, so the
    // pixels are computed here, at their centres, with evenly spaced colour stops. Bitmaps are
    // written in place; other targets get a copy through a scratch surface.
    const Size area = size();
    win32::Surface scratch;
    win32::Surface* surface = nullptr;
    if (target == Target::ToBitmap) {
        surface = &bitmap->surface;
    } else if (target == Target::ToWindow) {
        surface = &window->backing;
    } else if (scratch.make(area.width, area.height)) {
        surface = &scratch;
    } else {
        return false;
    }
    GdiFlush();
    const double sx = start.x;
    const double sy = win32::ToDeviceY(start.y, area.height);
    const double dx = end.x - sx;
    const double dy = win32::ToDeviceY(end.y, area.height) - sy;
    const double lengthSquared = dx * dx + dy * dy;
    const double segments = static_cast<double>(colors.size() - 1);
    for (int row = 0; row < surface->height(); ++row) {
        std::uint8_t* px = surface->bits() + surface->stride() * row;
        for (int x = 0; x < surface->width(); ++x, px += 4) {
            double t = 0;
            if (lengthSquared > 0) {
                t = ((x + 0.5 - sx) * dx + (row + 0.5 - sy) * dy) / lengthSquared;
                t = std::clamp(t, 0.0, 1.0);
            }
            const double at = t * segments;
            const auto i = std::min(static_cast<std::size_t>(at), colors.size() - 2);
            const double f = at - static_cast<double>(i);
            const Color a = colors[i];
            const Color b = colors[i + 1];
            auto mix = [f](int u, int v) {
                return static_cast<std::uint8_t>(std::lround(u + (v - u) * f));
            };
            px[0] = mix(BlueOf(a), BlueOf(b));
            px[1] = mix(GreenOf(a), GreenOf(b));
            px[2] = mix(RedOf(a), RedOf(b));
            px[3] = 0;
        }
    }
    if (surface == &scratch) {
        BitBlt(dc(), 0, 0, area.width, area.height, scratch.dc(), 0, 0, SRCCOPY);
    }
    return true;
}

bool PresSpaceImpl::drawBox(Rect box, int fillMode) {
    const int h = height();
    // Inclusive corners: GDI's right and bottom edges are exclusive.
    const RECT r{box.x1, win32::ToDeviceRow(box.y2, h), box.x2 + 1,
                 win32::ToDeviceRow(box.y1, h) + 1};
    const win32::BrushPtr brush(CreateSolidBrush(win32::ToColorRef(color)));
    if (fillMode & fill::Fill) {
        FillRect(dc(), &r, brush.get());
    }
    if (fillMode & fill::Outline) {
        FrameRect(dc(), &r, brush.get());
    }
    return true;
}

bool PresSpaceImpl::drawText(Point at, const std::string& text) {
    win32::TipTextDrawn(window ? window->hwnd : nullptr, text);
    const std::wstring wide = system::ToUtf16(text);
    HDC to = dc();
    const win32::Selection selected(to, win32::FontFor(font));
    SetBkMode(to, TRANSPARENT);
    SetTextColor(to, win32::ToColorRef(color));
    SetTextAlign(to, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    return TextOutW(to, at.x, win32::ToDeviceY(at.y, height()), wide.c_str(),
                    static_cast<int>(wide.size())) != 0;
}

bool PresSpaceImpl::drawBitmap(BitmapState& b, Point at) {
    const win32::Surface& s = static_cast<const BitmapImpl&>(b).surface;
    const int top = win32::ToDeviceY(at.y + s.height(), height());
    return BitBlt(dc(), at.x, top, s.width(), s.height(), s.dc(), 0, 0, SRCCOPY) != 0;
}

bool PresSpaceImpl::copyFrom(PresSpaceState& from, Rect box, Point sourceAt) {
    PresSpaceImpl& source = static_cast<PresSpaceImpl&>(from);
    HDC in = source.dc();
    HDC out = in ? dc() : nullptr;
    if (!out) {
        return false;
    }
    // The screen as a source includes layered windows (tips, menus) in the copy.
    const DWORD rop = source.target == Target::ToScreen ? SRCCOPY | CAPTUREBLT : SRCCOPY;
    const int dstTop = win32::ToDeviceRow(box.y2, height());
    const int srcTop = win32::ToDeviceY(sourceAt.y + box.height(), source.height());
    const bool ok =
        BitBlt(out, box.x1, dstTop, box.width(), box.height(), in, sourceAt.x, srcTop, rop) != 0;
    flush();
    return ok;
}

// ---- BitmapImpl ----------------------------------------------------------------------

void BitmapImpl::make(int width, int height) {
    if (surface.width() == width && surface.height() == height) {
        surface.clear();
        return;
    }
    if (!surface.make(width, height)) {
        throw Error("XbpBitmap:make", "the system cannot make the bitmap",
                    {std::to_string(width), std::to_string(height)});
    }
}

BitmapState::Pixels BitmapImpl::readPixels() const {
    GdiFlush(); // GDI's pending drawing reaches the pixels first
    return {surface.empty() ? nullptr : surface.bits(), surface.width(), surface.height(),
            surface.stride()};
}

} // namespace detail

} // namespace host
