// Drawing of menus: captions with their mnemonic letter underlined (a pango attribute, never
// markup), the menu bar's strip, and the popup windows of open menus with their frame, marked
// entry and submenu arrows.
#include "menus_draw.h"

#include "coords.h"
#include "desktop.h"
#include "drawing.h"
#include "menu_state.h"
#include "object_state.h"
#include "scheme.h"
#include "wm.h"

#include <glib.h>

#include <algorithm>

#include <X11/Xatom.h>

namespace host {

namespace {

constexpr int kStripPadding = 10; // left and right of each strip entry
constexpr int kStripStart = 4;
constexpr int kFrame = 1;        // the popup's frame
constexpr int kInset = 3;        // between the frame and the entries
constexpr int kEntryPadding = 4; // above and below an entry's text
constexpr int kTextLeft = 20;
constexpr int kArrowSpace = 28; // right of the text: room for the submenu arrow
constexpr int kMinWidth = 120;

// A layout of the label's text with the mnemonic letter underlined.
x11::LayoutPtr labelLayout(cairo_t* cr, const Font& font, const detail::Label& label) {
    x11::LayoutPtr layout = x11::MakeLayout(cr, font, label.text);
    if (label.mnemonicStart >= 0) {
        PangoAttrList* list = pango_attr_list_new();
        PangoAttribute* underline = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
        underline->start_index = static_cast<guint>(label.mnemonicStart);
        underline->end_index = static_cast<guint>(label.mnemonicEnd);
        pango_attr_list_insert(list, underline); // the list owns the attribute now
        pango_layout_set_attributes(layout.get(), list);
        pango_attr_list_unref(list);
    }
    return layout;
}

Size pixelSize(PangoLayout* layout) {
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    return {w, h};
}

} // namespace

namespace x11 {
int MenuBarHeight(const Font& font) {
    return MeasureText(font, "Mg").height + 8;
}
} // namespace x11

namespace detail {

using x11::CairoPtr;
using x11::LayoutPtr;
using x11::SurfacePtr;

// ---- Captions ------------------------------------------------------------------------------

long FoldMnemonic(long code) {
    if (code <= 0 || code > 0x10ffff) {
        return 0;
    }
    return static_cast<long>(g_unichar_tolower(static_cast<gunichar>(code)));
}

Label ParseCaption(std::string_view caption) {
    Label label;
    label.text.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != '~') {
            label.text += caption[i];
            continue;
        }
        if (i + 1 >= caption.size()) {
            break; // a "~" at the end marks nothing
        }
        if (caption[i + 1] == '~') {
            label.text += '~';
            ++i;
            continue;
        }
        // The next character (UTF-8, one to four bytes) is the mnemonic; the first marker wins.
        const char* start = caption.data() + i + 1;
        const char* end = g_utf8_find_next_char(start, caption.data() + caption.size());
        const std::size_t length =
            end ? static_cast<std::size_t>(end - start) : caption.size() - (i + 1);
        const gunichar ch = g_utf8_get_char_validated(start, static_cast<gssize>(length));
        if (label.mnemonicStart < 0 && ch != static_cast<gunichar>(-1) &&
            ch != static_cast<gunichar>(-2)) {
            label.mnemonicStart = static_cast<int>(label.text.size());
            label.mnemonicEnd = label.mnemonicStart + static_cast<int>(length);
            label.mnemonic = FoldMnemonic(static_cast<long>(ch));
        }
        label.text.append(start, length);
        i += length;
    }
    return label;
}

std::string EntryCaption(const MenuItem& item) {
    if (const auto* action = std::get_if<MenuAction>(&item)) {
        return action->caption;
    }
    const auto& sub = std::get<std::shared_ptr<XbpMenu>>(item);
    return sub ? sub->title() : std::string();
}

// ---- The bar's strip -----------------------------------------------------------------------

int MenuImpl::stripEntryAt(int x) const {
    for (std::size_t i = 0; i + 1 < entryX.size(); ++i) {
        if (x >= entryX[i] && x < entryX[i + 1]) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

void MenuImpl::paintStrip(int width) {
    if (!strip) {
        return;
    }
    SurfacePtr surface(cairo_xlib_surface_create(conn->dpy(), strip.id(), conn->visual(),
                                                 std::max(1, width), height));
    CairoPtr cr(cairo_create(surface.get()));
    x11::SetSource(cr.get(), x11::scheme::Face);
    cairo_paint(cr.get());
    x11::SetSource(cr.get(), x11::scheme::Line);
    cairo_rectangle(cr.get(), 0, height - 1, width, 1);
    cairo_fill(cr.get());
    entryX.clear();
    int x = kStripStart;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Label label = ParseCaption(EntryCaption(items[i]));
        LayoutPtr layout = labelLayout(cr.get(), font, label);
        const Size text = pixelSize(layout.get());
        const int entryWidth = text.width + 2 * kStripPadding;
        entryX.push_back(x);
        const bool isOpen = openEntry == static_cast<int>(i) + 1;
        if (isOpen) {
            x11::SetSource(cr.get(), x11::scheme::Mark);
            cairo_rectangle(cr.get(), x, 0, entryWidth, height - 1);
            cairo_fill(cr.get());
        }
        x11::SetSource(cr.get(), isOpen ? x11::scheme::MarkText : x11::scheme::Text);
        cairo_move_to(cr.get(), x + kStripPadding, (height - 1 - text.height) / 2);
        pango_cairo_show_layout(cr.get(), layout.get());
        x += entryWidth;
    }
    entryX.push_back(x);
    cr.reset();
    cairo_surface_flush(surface.get());
    XFlush(conn->dpy());
}

// ---- Popups ------------------------------------------------------------------------------

int Popup::entryAt(int rootX, int rootY) const {
    if (!contains(rootX, rootY)) {
        return 0;
    }
    const int local = rootY - y;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (local >= boxes[i].y && local < boxes[i].y + boxes[i].height) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

void OpenPopup(XbpMenu& menu, int rootX, int rootY, int altRight, bool dropdown,
               ::Window transientFor) {
    MenuImpl& m = Impl(menu);
    auto p = std::make_unique<Popup>();
    // The window first (1 by 1, unmapped), so that text is measured as it will be drawn. Menus
    // place themselves, above everything.
    p->window = x11::XWindow(x11::Connection::current(),
                             {0, {0, 0, 1, 1}, x11::scheme::Menu, ExposureMask, true});
    p->window.dispatchTo(menu.weak_from_this());
    x11::Connection& c = *p->window.connection();
    Display* dpy = c.dpy();
    const ::Window xid = p->window.id();
    // EWMH: a bar's menu is a dropdown menu, a submenu a popup menu; both belong to the dialog.
    x11::SetWindowType(c, xid,
                       dropdown ? c.atoms().netWmWindowTypeDropdownMenu
                                : c.atoms().netWmWindowTypePopupMenu,
                       transientFor);
    p->surface.reset(cairo_xlib_surface_create(dpy, xid, c.visual(), 1, 1));
    p->cr.reset(cairo_create(p->surface.get()));

    int textWidth = 0;
    int y = kFrame + kInset;
    for (const MenuItem& item : m.items) {
        p->labels.push_back(ParseCaption(EntryCaption(item)));
        p->layouts.push_back(labelLayout(p->cr.get(), m.font, p->labels.back()));
        const Size text = pixelSize(p->layouts.back().get());
        textWidth = std::max(textWidth, text.width);
        p->boxes.push_back({y, text.height + 2 * kEntryPadding});
        y += text.height + 2 * kEntryPadding;
        const bool sub = std::holds_alternative<std::shared_ptr<XbpMenu>>(item);
        p->isSubmenu.push_back(sub);
    }
    p->width = std::max(kMinWidth, textWidth + kTextLeft + kArrowSpace + 2 * (kFrame + kInset));
    p->height = y + kInset + kFrame;

    // On the monitor it opens on: a menu that would leave it at the right ends at `altRight` (a
    // submenu goes to the other side of its parent), and one too low moves up.
    const x11::DeviceRect monitor = x11::MonitorAt(c, rootX, rootY);
    const int right = monitor.x + monitor.width;
    const int bottom = monitor.y + monitor.height;
    p->x = rootX;
    p->y = rootY;
    if (p->x + p->width > right) {
        p->x = std::max(monitor.x, std::min(altRight, right) - p->width);
    }
    if (p->y + p->height > bottom) {
        p->y = std::max(monitor.y, bottom - p->height);
    }
    XMoveResizeWindow(dpy, xid, p->x, p->y, static_cast<unsigned>(p->width),
                      static_cast<unsigned>(p->height));
    cairo_xlib_surface_set_size(p->surface.get(), p->width, p->height);
    XMapRaised(dpy, xid);
    m.popup = std::move(p);
    // Painted at once (the map request is ahead of the drawing in the server's queue); the
    // Expose that follows repaints the same picture.
    PaintPopup(m);
}

void PaintPopup(MenuImpl& m) {
    Popup* p = m.popup.get();
    if (!p || !p->cr) {
        return;
    }
    cairo_t* cr = p->cr.get();
    x11::SetSource(cr, x11::scheme::Frame);
    cairo_paint(cr);
    x11::SetSource(cr, x11::scheme::Menu);
    cairo_rectangle(cr, kFrame, kFrame, p->width - 2 * kFrame, p->height - 2 * kFrame);
    cairo_fill(cr);
    for (std::size_t i = 0; i < p->layouts.size(); ++i) {
        const EntryBox& box = p->boxes[i];
        const bool marked = m.marked == static_cast<int>(i) + 1;
        if (marked) {
            x11::SetSource(cr, x11::scheme::Mark);
            cairo_rectangle(cr, kFrame + kInset, box.y, p->width - 2 * (kFrame + kInset),
                            box.height);
            cairo_fill(cr);
        }
        x11::SetSource(cr, marked ? x11::scheme::MarkText : x11::scheme::Text);
        cairo_move_to(cr, kFrame + kInset + kTextLeft - kInset, box.y + kEntryPadding);
        pango_cairo_show_layout(cr, p->layouts[i].get());
        if (p->isSubmenu[i]) {
            // A small triangle pointing right, centred on the entry.
            const double cx = p->width - (kFrame + kInset) - 12.0;
            const double cy = box.y + box.height / 2.0;
            cairo_move_to(cr, cx, cy - 4.5);
            cairo_line_to(cr, cx + 5, cy);
            cairo_line_to(cr, cx, cy + 4.5);
            cairo_close_path(cr);
            cairo_fill(cr);
        }
    }
    cairo_surface_flush(p->surface.get());
    XFlush(p->window.connection()->dpy());
}

} // namespace detail
} // namespace host
