// How a driver reaches the state behind the public objects: the public headers name the state
// types and befriend detail::Access, and only driver code includes this header.
#pragma once

#include <host/drawing.h>
#include <host/windows.h>

namespace host {

namespace detail {
struct Access {
    template <typename T> static auto& of(const T& object) { return *object.impl_; }
};
} // namespace detail

inline detail::WindowImpl& Impl(const XbpWindow& w) {
    return detail::Access::of(w);
}
inline detail::MenuImpl& Impl(const XbpMenuBar& bar) {
    return detail::Access::of(bar);
}
inline detail::MenuImpl& Impl(const XbpMenu& menu) {
    return detail::Access::of(menu);
}
inline detail::PresSpaceImpl& Impl(const XbpPresSpace& ps) {
    return detail::Access::of(ps);
}
inline detail::BitmapImpl& Impl(const XbpBitmap& bitmap) {
    return detail::Access::of(bitmap);
}

} // namespace host
