// The portal route: org.freedesktop.portal.Screenshot on the session bus, not interactive. The
// answer comes as a Response signal on a request object whose path we know before calling; the
// PNG it names is read with cairo and removed, so no screenshot stays in the user's folders.
#include "compose.h"
#include "routes.h"

#include <cairo.h>
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace host::compositor::detail {
namespace {

// GNOME answers in about 100 ms (the first call of a session in about 350 ms); one that asks
// the user, or hangs, is given up after this.
constexpr guint kAnswerBoundMs = 3000;

template <typename T> struct GFree {
    void operator()(T* p) const {
        if (p) {
            g_object_unref(p);
        }
    }
};
struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
struct VariantFree {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct ContextFree {
    void operator()(GMainContext* c) const { g_main_context_unref(c); }
};
struct SourceFree {
    void operator()(GSource* s) const {
        g_source_destroy(s);
        g_source_unref(s);
    }
};
struct CharsFree {
    void operator()(gchar* p) const { g_free(p); }
};
struct SurfaceFree {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using VariantPtr = std::unique_ptr<GVariant, VariantFree>;
using CharsPtr = std::unique_ptr<gchar, CharsFree>;

// The Response signal's content, filled by the handler.
struct Answer {
    bool arrived = false;
    guint32 code = 2; // 0 success, 1 cancelled by the user, 2 other
    std::string uri;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
    auto* a = static_cast<Answer*>(data);
    guint32 code = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &code, &results);
    const VariantPtr owned(results);
    a->arrived = true;
    a->code = code;
    const gchar* uri = nullptr;
    if (results && g_variant_lookup(results, "uri", "&s", &uri) && uri) {
        a->uri = uri;
    }
}

gboolean onTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

// The unique name ":1.42" becomes "1_42" in request paths.
std::string senderPart(const char* unique) {
    std::string s = unique && unique[0] == ':' ? unique + 1 : (unique ? unique : "");
    std::replace(s.begin(), s.end(), '.', '_');
    return s;
}

// Reads the PNG into a picture (alpha dropped) and removes the file.
std::optional<Picture> readAndRemove(const std::string& uri, std::string& failure) {
    const CharsPtr path(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
    if (!path) {
        failure = "the portal named no local file (" + uri + ")";
        return std::nullopt;
    }
    const std::unique_ptr<cairo_surface_t, SurfaceFree> png(
        cairo_image_surface_create_from_png(path.get()));
    ::unlink(path.get());
    if (cairo_surface_status(png.get()) != CAIRO_STATUS_SUCCESS) {
        failure = std::string("the portal's picture could not be read: ") +
                  cairo_status_to_string(cairo_surface_status(png.get()));
        return std::nullopt;
    }
    cairo_surface_flush(png.get());
    Picture p;
    p.width = cairo_image_surface_get_width(png.get());
    p.height = cairo_image_surface_get_height(png.get());
    const int stride = cairo_image_surface_get_stride(png.get());
    const unsigned char* data = cairo_image_surface_get_data(png.get());
    p.pixels.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
    for (int y = 0; y < p.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t{stride} * y);
        for (int x = 0; x < p.width; ++x) {
            p.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
                     static_cast<std::size_t>(x)] = row[x] & 0xffffffu;
        }
    }
    return p;
}

} // namespace

std::optional<Picture> PortalDesktop(std::string& failure) {
    // A context of our own: the signal and the time-out are dispatched here, never in a main
    // loop the program may run elsewhere.
    const std::unique_ptr<GMainContext, ContextFree> context(g_main_context_new());
    g_main_context_push_thread_default(context.get());
    struct PopContext {
        GMainContext* c;
        ~PopContext() { g_main_context_pop_thread_default(c); }
    } pop{context.get()};

    GError* raw = nullptr;
    // A connection of our own, closed when done (the shared one would live to the process's end).
    const CharsPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
    if (!address) {
        const ErrorPtr e(raw);
        failure = std::string("no session bus: ") + e->message;
        return std::nullopt;
    }
    const std::unique_ptr<GDBusConnection, GFree<GDBusConnection>> bus(
        g_dbus_connection_new_for_address_sync(
            address.get(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &raw));
    if (!bus) {
        const ErrorPtr e(raw);
        failure = std::string("no session bus: ") + e->message;
        return std::nullopt;
    }
    static std::atomic<unsigned> serial{0};
    const std::string token =
        "menutip" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
    const std::string request = "/org/freedesktop/portal/desktop/request/" +
                                senderPart(g_dbus_connection_get_unique_name(bus.get())) + "/" +
                                token;
    Answer answer;
    // Subscribed before the call, so an answer that comes at once is not missed. The sender is
    // left open: the portal's unique name is not known yet.
    const guint subscription = g_dbus_connection_signal_subscribe(
        bus.get(), nullptr, "org.freedesktop.portal.Request", "Response", request.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &answer, nullptr);
    struct Unsubscribe {
        GDBusConnection* c;
        guint id;
        ~Unsubscribe() { g_dbus_connection_signal_unsubscribe(c, id); }
    } unsubscribe{bus.get(), subscription};

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
    g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(FALSE));
    VariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.freedesktop.portal.Screenshot", "Screenshot", g_variant_new("(sa{sv})", "", &options),
        G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(kAnswerBoundMs), nullptr,
        &raw));
    if (!reply) {
        const ErrorPtr e(raw);
        failure = std::string("the desktop portal: ") + e->message;
        return std::nullopt;
    }
    bool timedOut = false;
    const std::unique_ptr<GSource, SourceFree> timer(g_timeout_source_new(kAnswerBoundMs));
    g_source_set_callback(timer.get(), onTimeout, &timedOut, nullptr);
    g_source_attach(timer.get(), context.get());
    while (!answer.arrived && !timedOut) {
        g_main_context_iteration(context.get(), TRUE);
    }
    if (!answer.arrived) {
        failure = "the desktop portal did not answer within 3 s (is screenshot permission "
                  "granted?)";
        return std::nullopt;
    }
    if (answer.code != 0) {
        failure = answer.code == 1 ? "the desktop portal's screenshot was refused"
                                   : "the desktop portal's screenshot failed";
        return std::nullopt;
    }
    return readAndRemove(answer.uri, failure);
}

} // namespace host::compositor::detail
