// Text helpers and colour numbers.
#include <host/error.h>
#include <host/values.h>

#include <algorithm>

namespace host {

Color GraMakeRGBColor(RGB rgb) {
    auto in_range = [](int v) { return v >= 0 && v <= 255; };
    if (!in_range(rgb.red) || !in_range(rgb.green) || !in_range(rgb.blue)) {
        throw Error("GraMakeRGBColor", "colour channel outside 0..255",
                    {std::to_string(rgb.red), std::to_string(rgb.green), std::to_string(rgb.blue)});
    }
    return (rgb.red << 16) | (rgb.green << 8) | rgb.blue;
}

std::string AllTrim(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(' ');
    return std::string(s.substr(first, last - first + 1));
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    });
    return out;
}

std::string Right(std::string_view s, std::size_t n) {
    return std::string(n >= s.size() ? s : s.substr(s.size() - n));
}

bool Empty(const Text& s) {
    return !s.has_value() || s->empty();
}

} // namespace host
