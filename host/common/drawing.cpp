// The drawing group's shared half: presentation spaces' and bitmaps' settings and accessors,
// the primitives' checks and their one way of drawing (ready, draw, finish), fonts, and
// saving a bitmap with its warning. The driver's hooks do the drawing itself.
#include "core/bmp_file.h"
#include "driver.h"

#include <host/error.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

// Raises host::Error for a gradient kind other than Linear, or no end point or colours.
void CheckGradient(const std::vector<Point>& ends, const std::vector<Color>& colors, int kind) {
    if (kind != gradient::Linear) {
        throw Error("GraGradient", "unknown gradient kind", {std::to_string(kind)});
    }
    if (ends.empty() || colors.size() < 2) {
        throw Error("GraGradient", "a gradient needs an end point and two colours");
    }
}

// The warning line for a file that is not written ("<program>: warning: <file>: <reason>");
// returns false.
bool WarnNoPicture(const std::string& path, const std::string& reason) {
    // A file that cannot be written stops nothing, but is never passed over in silence.
    const std::string line = ProgramName() + ": warning: " + path + ": " + reason + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return false;
}

// Writes a bitmap's BGRX pixels as a BMP file; when it cannot, one warning line on stderr names
// the file and the reason, and the result is false.
bool SaveBitmap(const std::string& path, const std::uint8_t* pixels, int width, int height,
                std::ptrdiff_t stride) {
    const auto warn = [&](const char* reason) { return WarnNoPicture(path, reason); };
    if (!pixels || width <= 0 || height <= 0) {
        return warn("the bitmap holds no picture");
    }
    int error = 0;
    if (!bmpfile::WriteFile(path, pixels, width, height, stride, &error)) {
        return warn(std::strerror(error));
    }
    return true;
}

// Raises host::Error (for `operation`) when no presentation space is given.
void RequireSpace(const std::shared_ptr<XbpPresSpace>& ps, const char* operation) {
    if (!ps) {
        throw Error(operation, "no presentation space (NIL) given");
    }
}

// Raises host::Error for a fill mode other than fill::Fill, Outline or FillOutline.
void CheckFillMode(int fillMode) {
    if (fillMode < fill::Fill || fillMode > fill::FillOutline) {
        throw Error("GraBox", "unknown fill mode", {std::to_string(fillMode)});
    }
}

// Raises host::Error for a bitmap size that is not positive or larger than 32767.
void CheckBitmapSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        throw Error("XbpBitmap:make", "bitmap size out of range",
                    {std::to_string(width), std::to_string(height)});
    }
}

// Runs one primitive on the space: readies it, draws, and has what was drawn reach the target
// (also when drawing throws). False when the space has nowhere to draw or drawing failed.
template <typename Draw> bool drawOn(const std::shared_ptr<XbpPresSpace>& ps, Draw&& draw) {
    RequireSpace(ps, "drawing");
    detail::PresSpaceState& p = State(*ps);
    if (!p.beginDrawing()) {
        return false;
    }
    bool drawn = false;
    try {
        drawn = draw(p);
    } catch (...) {
        p.endDrawing();
        throw;
    }
    const bool finished = p.endDrawing();
    return drawn && finished;
}

} // namespace

Font DefaultFont() {
    return detail::TheDriver().defaultFont();
}

// ---- Primitives ------------------------------------------------------------------------

bool GraGradient(const std::shared_ptr<XbpPresSpace>& ps, Point start,
                 const std::vector<Point>& ends, const std::vector<Color>& colors, int kind) {
    CheckGradient(ends, colors, kind);
    return drawOn(
        ps, [&](detail::PresSpaceState& p) { return p.drawGradient(start, ends.front(), colors); });
}

bool GraBox(const std::shared_ptr<XbpPresSpace>& ps, Point lowerLeft, Point upperRight,
            int fillMode) {
    CheckFillMode(fillMode);
    const Rect box{std::min(lowerLeft.x, upperRight.x), std::min(lowerLeft.y, upperRight.y),
                   std::max(lowerLeft.x, upperRight.x), std::max(lowerLeft.y, upperRight.y)};
    return drawOn(ps, [&](detail::PresSpaceState& p) { return p.drawBox(box, fillMode); });
}

bool GraStringAt(const std::shared_ptr<XbpPresSpace>& ps, Point at, const std::string& text) {
    return drawOn(ps, [&](detail::PresSpaceState& p) { return p.drawText(at, text); });
}

TextBox GraQueryTextBox(const std::shared_ptr<XbpPresSpace>& ps, const std::string& text) {
    RequireSpace(ps, "GraQueryTextBox");
    const auto [width, ascent, descent] = detail::TheDriver().measureText(State(*ps).font, text);
    return TextBox{{0, ascent}, {0, -descent}, {width, ascent}, {width, -descent}, {width, 0}};
}

bool GraBitBlt(const std::shared_ptr<XbpPresSpace>& target,
               const std::shared_ptr<XbpPresSpace>& source, Rect targetRect, Point sourceAt) {
    RequireSpace(target, "GraBitBlt");
    RequireSpace(source, "GraBitBlt");
    if (targetRect.width() <= 0 || targetRect.height() <= 0) {
        return false;
    }
    return State(*target).copyFrom(State(*source), targetRect, sourceAt);
}

// ---- XbpPresSpace -----------------------------------------------------------------------

XbpPresSpace::XbpPresSpace() : impl_(detail::TheDriver().newPresSpaceState()) {
    impl_->font = DefaultFont();
}

XbpPresSpace::~XbpPresSpace() = default;

std::shared_ptr<XbpPresSpace> XbpPresSpace::New() {
    return std::shared_ptr<XbpPresSpace>(new XbpPresSpace());
}

std::shared_ptr<XbpPresSpace> XbpPresSpace::create() {
    impl_->created = true;
    return shared_from_this();
}

Font XbpPresSpace::setFont(std::optional<Font> font) {
    Font previous = impl_->font;
    if (font) {
        impl_->font = std::move(*font);
    }
    return previous;
}

Color XbpPresSpace::setColor(std::optional<Color> color) {
    const Color previous = impl_->color;
    if (color) {
        impl_->color = *color;
    }
    return previous;
}

Size XbpPresSpace::size() const {
    return impl_->size();
}

// ---- XbpBitmap --------------------------------------------------------------------------

XbpBitmap::XbpBitmap() : impl_(detail::TheDriver().newBitmapState()) {}

XbpBitmap::~XbpBitmap() {
    if (impl_->ps) {
        State(*impl_->ps).bindTo(nullptr);
    }
}

std::shared_ptr<XbpPresSpace> XbpBitmap::presSpace(std::shared_ptr<XbpPresSpace> ps) {
    auto previous = impl_->ps;
    if (previous) {
        State(*previous).bindTo(nullptr);
    }
    if (ps) {
        detail::PresSpaceState& p = State(*ps);
        if (p.drawsOnWindow()) {
            throw Error("XbpBitmap:presSpace", "the presentation space belongs to a window");
        }
        p.bindTo(impl_.get());
    }
    impl_->ps = std::move(ps);
    return previous;
}

std::shared_ptr<XbpBitmap> XbpBitmap::New() {
    return std::shared_ptr<XbpBitmap>(new XbpBitmap());
}

std::shared_ptr<XbpBitmap> XbpBitmap::create() {
    impl_->created = true;
    return shared_from_this();
}

std::shared_ptr<XbpPresSpace> XbpBitmap::presSpace() const {
    return impl_->ps;
}

Size XbpBitmap::size() const {
    return impl_->size();
}

bool XbpBitmap::make(int width, int height) {
    CheckBitmapSize(width, height);
    impl_->noPicture.clear();
    impl_->make(width, height);
    return true;
}

bool XbpBitmap::draw(const std::shared_ptr<XbpPresSpace>& target, Point at) {
    if (!impl_->holdsPixels()) {
        return false;
    }
    if (target && State(*target).putBitmap(*impl_, at)) {
        return true;
    }
    return drawOn(target, [&](detail::PresSpaceState& p) { return p.drawBitmap(*impl_, at); });
}

bool XbpBitmap::saveFile(const std::string& path) const {
    if (!impl_->noPicture.empty()) {
        return WarnNoPicture(path, impl_->noPicture); // never a black file in its place
    }
    const detail::BitmapState::Pixels px = impl_->readPixels();
    return SaveBitmap(path, px.data, px.width, px.height, px.stride);
}

} // namespace host
