// Small value types shared by every group of the runtime: NIL, geometry, colour numbers,
// callbacks that carry their source text, and the text and array helpers programs call.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

// NIL: no value at all. Where a value may be absent the API takes std::optional.
inline constexpr std::nullopt_t Nil = std::nullopt;
using Text = std::optional<std::string>;

// Geometry in whole pixels. Rectangles use inclusive corners as programs write them
// ({x1, y1, x2, y2}); `width()`/`height()` count pixels, so {0,0,9,9} is 10 by 10.
struct Point {
    int x = 0;
    int y = 0;
    friend constexpr bool operator==(const Point&, const Point&) = default;
    constexpr Point translated(int dx, int dy) const { return {x + dx, y + dy}; }
};

struct Size {
    int width = 0;
    int height = 0;
    friend constexpr bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
    constexpr int width() const { return x2 - x1 + 1; }
    constexpr int height() const { return y2 - y1 + 1; }
    constexpr bool contains(Point p) const {
        return p.x >= x1 && p.x <= x2 && p.y >= y1 && p.y <= y2;
    }
};

// A colour number: 0x00RRGGBB. Made by GraMakeRGBColor; read back with the helpers below.
using Color = std::int32_t;
struct RGB {
    int red = 0;
    int green = 0;
    int blue = 0;
    friend constexpr bool operator==(const RGB&, const RGB&) = default;
};
Color GraMakeRGBColor(RGB rgb); // raises host::Error for a channel outside 0..255
constexpr int RedOf(Color c) {
    return (c >> 16) & 0xff;
}
constexpr int GreenOf(Color c) {
    return (c >> 8) & 0xff;
}
constexpr int BlueOf(Color c) {
    return c & 0xff;
}

// A piece of code with its parameters, as the runtime evaluates it, carrying its source text
// (for example "{|| HideMenuTip_()}") for diagnostics.
template <typename Signature> class Callback;

template <typename R, typename... Args> class Callback<R(Args...)> {
  public:
    Callback() = default;
    Callback(std::string source, std::function<R(Args...)> code)
        : source_(std::move(source)), code_(std::move(code)) {}

    explicit operator bool() const noexcept { return static_cast<bool>(code_); }
    const std::string& source() const noexcept { return source_; }
    R operator()(Args... args) const { return code_(std::forward<Args>(args)...); }

  private:
    std::string source_;
    std::function<R(Args...)> code_;
};

// Text helpers with the runtime's semantics.
std::string AllTrim(std::string_view s);              // leading and trailing spaces removed
std::string Lower(std::string_view s);                // ASCII letters to lower case
std::string Right(std::string_view s, std::size_t n); // the last n characters, fewer if shorter
bool Empty(const Text& s);                            // NIL or a zero-length text

// Array helpers numbered from 1: AScan gives the position of the first element for which
// `match` yields true, or 0.
template <typename T, typename Pred> std::size_t AScan(const std::vector<T>& a, Pred&& match) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (match(a[i])) {
            return i + 1;
        }
    }
    return 0;
}
template <typename T, typename U> void AAdd(std::vector<T>& a, U&& value) {
    a.push_back(std::forward<U>(value));
}

} // namespace host
