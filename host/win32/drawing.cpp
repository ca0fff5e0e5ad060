// Drawing on Win32: presentation spaces over DIB sections (bitmaps, and a window's picture
// of its client area) or the screen's DC, fonts from descriptions, and the primitives with
// GDI: boxes, text, copies (the desktop capture included), and a linear gradient of our own.
#include "../common/services.h"
#include "coords.h"
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

Font DefaultFont() {
    // The face and size the system uses for its message boxes.
    const LOGFONTW lf = messageFont();
    const long points = std::lround(std::abs(lf.lfHeight) * 72.0 / screenDpi());
    return Font{system::ToUtf8(lf.lfFaceName) + " " + std::to_string(points > 0 ? points : 9)};
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

namespace {

// Runs a drawing on the space's DC; false when the space has nowhere to draw.
template <typename F> bool withDc(const std::shared_ptr<XbpPresSpace>& ps, F&& draw) {
    RequireSpace(ps, "drawing");
    PresSpaceImpl& p = Impl(*ps);
    HDC dc = p.dc();
    if (!dc) {
        return false;
    }
    const bool ok = draw(dc, p, p.height());
    p.flush();
    return ok;
}

} // namespace

// ---- XbpPresSpace ----------------------------------------------------------------------

Size XbpPresSpace::size() const {
    return Impl(*this).size();
}

// ---- XbpBitmap -------------------------------------------------------------------------

bool XbpBitmap::make(int width, int height) {
    CheckBitmapSize(width, height);
    win32::Surface& s = Impl(*this).surface;
    if (s.width() == width && s.height() == height) {
        s.clear();
        return true;
    }
    if (!s.make(width, height)) {
        throw Error("XbpBitmap:make", "the system cannot make the bitmap",
                    {std::to_string(width), std::to_string(height)});
    }
    return true;
}

bool XbpBitmap::draw(const std::shared_ptr<XbpPresSpace>& target, Point at) {
    const win32::Surface& s = Impl(*this).surface;
    if (s.empty()) {
        return false;
    }
    return withDc(target, [&](HDC dc, PresSpaceImpl&, int height) {
        const int top = win32::ToDeviceY(at.y + s.height(), height);
        return BitBlt(dc, at.x, top, s.width(), s.height(), s.dc(), 0, 0, SRCCOPY) != 0;
    });
}

bool XbpBitmap::saveFile(const std::string& path) const {
    const win32::Surface& s = Impl(*this).surface;
    GdiFlush(); // GDI's pending drawing reaches the pixels first
    return SaveBitmap(path, s.empty() ? nullptr : s.bits(), s.width(), s.height(), s.stride());
}

// ---- Primitives ------------------------------------------------------------------------

bool GraGradient(const std::shared_ptr<XbpPresSpace>& ps, Point start,
                 const std::vector<Point>& ends, const std::vector<Color>& colors, int kind) {
    CheckGradient(ends, colors, kind);
    RequireSpace(ps, "drawing");
    // GDI fills only horizontal and vertical gradients; this one runs in any direction, so the
    // pixels are computed here, at their centres, with evenly spaced colour stops. Bitmaps are
    // written in place; other targets get a copy through a scratch surface.
    PresSpaceImpl& p = Impl(*ps);
    HDC dc = p.dc();
    if (!dc) {
        return false;
    }
    const Size size = p.size();
    win32::Surface scratch;
    win32::Surface* surface = nullptr;
    if (p.target == Target::ToBitmap) {
        surface = &p.bitmap->surface;
    } else if (p.target == Target::ToWindow) {
        surface = &p.window->backing;
    } else if (scratch.make(size.width, size.height)) {
        surface = &scratch;
    } else {
        return false;
    }
    GdiFlush();
    const double sx = start.x;
    const double sy = win32::ToDeviceY(start.y, size.height);
    const double dx = ends.front().x - sx;
    const double dy = win32::ToDeviceY(ends.front().y, size.height) - sy;
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
        BitBlt(dc, 0, 0, size.width, size.height, scratch.dc(), 0, 0, SRCCOPY);
    }
    p.flush();
    return true;
}

bool GraBitBlt(const std::shared_ptr<XbpPresSpace>& target,
               const std::shared_ptr<XbpPresSpace>& source, Rect targetRect, Point sourceAt) {
    RequireSpace(target, "GraBitBlt");
    RequireSpace(source, "GraBitBlt");
    const int w = targetRect.width();
    const int h = targetRect.height();
    if (w <= 0 || h <= 0) {
        return false;
    }
    HDC from = Impl(*source).dc();
    if (!from) {
        return false;
    }
    const int sourceHeight = Impl(*source).height();
    // The screen as a source includes layered windows (tips, menus) in the copy.
    const DWORD rop = Impl(*source).target == Target::ToScreen ? SRCCOPY | CAPTUREBLT : SRCCOPY;
    return withDc(target, [&](HDC dc, PresSpaceImpl&, int height) {
        const int dstTop = win32::ToDeviceRow(targetRect.y2, height);
        const int srcTop = win32::ToDeviceY(sourceAt.y + h, sourceHeight);
        return BitBlt(dc, targetRect.x1, dstTop, w, h, from, sourceAt.x, srcTop, rop) != 0;
    });
}

bool GraBox(const std::shared_ptr<XbpPresSpace>& ps, Point lowerLeft, Point upperRight,
            int fillMode) {
    CheckFillMode(fillMode);
    return withDc(ps, [&](HDC dc, PresSpaceImpl& p, int height) {
        const int x1 = std::min(lowerLeft.x, upperRight.x);
        const int x2 = std::max(lowerLeft.x, upperRight.x);
        const int y1 = std::min(lowerLeft.y, upperRight.y);
        const int y2 = std::max(lowerLeft.y, upperRight.y);
        // Inclusive corners: GDI's right and bottom edges are exclusive.
        const RECT r{x1, win32::ToDeviceRow(y2, height), x2 + 1,
                     win32::ToDeviceRow(y1, height) + 1};
        const win32::BrushPtr brush(CreateSolidBrush(win32::ToColorRef(p.color)));
        if (fillMode & fill::Fill) {
            FillRect(dc, &r, brush.get());
        }
        if (fillMode & fill::Outline) {
            FrameRect(dc, &r, brush.get());
        }
        return true;
    });
}

bool GraStringAt(const std::shared_ptr<XbpPresSpace>& ps, Point at, const std::string& text) {
    return withDc(ps, [&](HDC dc, PresSpaceImpl& p, int height) {
        win32::TipTextDrawn(p.window ? p.window->hwnd : nullptr, text);
        const std::wstring wide = system::ToUtf16(text);
        const win32::Selection font(dc, win32::FontFor(p.font));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, win32::ToColorRef(p.color));
        SetTextAlign(dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
        return TextOutW(dc, at.x, win32::ToDeviceY(at.y, height), wide.c_str(),
                        static_cast<int>(wide.size())) != 0;
    });
}

TextBox GraQueryTextBox(const std::shared_ptr<XbpPresSpace>& ps, const std::string& text) {
    RequireSpace(ps, "GraQueryTextBox");
    HDC dc = measuringDc();
    const win32::Selection font(dc, win32::FontFor(Impl(*ps).font));
    const std::wstring wide = system::ToUtf16(text);
    SIZE extent{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int ascent = metrics.tmAscent;
    const int descent = metrics.tmDescent;
    const int width = extent.cx;
    return TextBox{{0, ascent}, {0, -descent}, {width, ascent}, {width, -descent}, {width, 0}};
}

} // namespace host
