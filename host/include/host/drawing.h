// The drawing group: presentation spaces (where drawing goes), bitmaps, and the graphics
// primitives. Coordinates are host coordinates: origin at the lower left corner of the
// surface, y growing upwards, whole pixels with inclusive corners.
#pragma once

#include <host/values.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

namespace detail {
struct PresSpaceState;
struct BitmapState;
struct Access; // the runtime's way to the state behind these objects
} // namespace detail

// A font by its description: family, styles and size in points ("Sans 10", "DejaVu Sans
// Bold 12").
struct Font {
    std::string description;
    friend bool operator==(const Font&, const Font&) = default;
};
Font DefaultFont(); // the desktop's current font

class XbpBitmap;

// Where drawing goes: a bitmap it is bound to, a window it was locked from, or nothing yet.
// A presentation space is used by one thread at a time.
class XbpPresSpace : public std::enable_shared_from_this<XbpPresSpace> {
  public:
    static std::shared_ptr<XbpPresSpace> New();
    ~XbpPresSpace();
    XbpPresSpace(const XbpPresSpace&) = delete;
    XbpPresSpace& operator=(const XbpPresSpace&) = delete;

    std::shared_ptr<XbpPresSpace> create();

    // With no argument each returns the current value; with one it sets it and returns the
    // previous value.
    Font setFont(std::optional<Font> font = Nil);
    Color setColor(std::optional<Color> color = Nil);

    Size size() const; // the surface's size in pixels ({0, 0} when unbound)

  private:
    XbpPresSpace();
    friend struct detail::Access;
    std::unique_ptr<detail::PresSpaceState> impl_;
};

// An image in memory, 24-bit colour.
class XbpBitmap : public std::enable_shared_from_this<XbpBitmap> {
  public:
    static std::shared_ptr<XbpBitmap> New();
    ~XbpBitmap();
    XbpBitmap(const XbpBitmap&) = delete;
    XbpBitmap& operator=(const XbpBitmap&) = delete;

    std::shared_ptr<XbpBitmap> create();

    // Binds a presentation space to the bitmap: drawing into it draws into the bitmap.
    // Returns the previously bound one (nullptr for none).
    std::shared_ptr<XbpPresSpace> presSpace(std::shared_ptr<XbpPresSpace> ps);
    std::shared_ptr<XbpPresSpace> presSpace() const;

    // Gives the bitmap a fresh black image of the size; reuses the buffer when the size stays.
    bool make(int width, int height);
    Size size() const;

    // Draws the whole bitmap into the target with its lower left corner at `at`.
    bool draw(const std::shared_ptr<XbpPresSpace>& target, Point at);

    // Writes the bitmap as a Windows BMP file (24-bit, bottom-up). The file is written to a
    // temporary name in the same folder and renamed, so it is either whole or absent.
    // Returns false when the file could not be written, after one warning line on stderr
    // that names the file and the reason ("<program>: warning: <file>: <reason>").
    bool saveFile(const std::string& path) const;

  private:
    XbpBitmap();
    friend struct detail::Access;
    std::unique_ptr<detail::BitmapState> impl_;
};

// Gradient kinds.
namespace gradient {
inline constexpr int Linear = 1; // from the start point to the (first) end point
}

// Fill modes of GraBox.
namespace fill {
inline constexpr int Fill = 1;
inline constexpr int Outline = 2;
inline constexpr int FillOutline = 3;
} // namespace fill

bool GraGradient(const std::shared_ptr<XbpPresSpace>& ps, Point start,
                 const std::vector<Point>& ends, const std::vector<Color>& colors, int kind);

// Copies the source rectangle starting at `sourceAt` into the target rectangle (same size).
bool GraBitBlt(const std::shared_ptr<XbpPresSpace>& target,
               const std::shared_ptr<XbpPresSpace>& source, Rect targetRect, Point sourceAt);

// A box between two corners (inclusive) in the presentation space's colour.
bool GraBox(const std::shared_ptr<XbpPresSpace>& ps, Point lowerLeft, Point upperRight,
            int fillMode = fill::Outline);

// Text with its baseline starting at `at`, in the presentation space's font and colour.
bool GraStringAt(const std::shared_ptr<XbpPresSpace>& ps, Point at, const std::string& text);

// The box of a text as GraStringAt would draw it at (0, 0): the baseline is y = 0, so the
// lower corners lie at minus the font's descent and the upper ones at its ascent.
struct TextBox {
    Point upperLeft;
    Point lowerLeft;
    Point upperRight;
    Point lowerRight;
    Point concat; // where the next text would start
};
TextBox GraQueryTextBox(const std::shared_ptr<XbpPresSpace>& ps, const std::string& text);

} // namespace host
