// The X11 state behind the public window and drawing objects. Only host/x11 sees this.
#pragma once

#include "../common/driver.h"
#include "connection.h"
#include "handles.h"
#include "xwindow.h"

#include <host/drawing.h>
#include <host/windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <X11/extensions/XShm.h>

namespace host::detail {

// Pixels of a bitmap: 32-bit BGRX rows in the process's own memory. A large buffer is mapped
// on a 2 MiB boundary and asked to be backed by huge pages: a screen's worth of new memory is
// then a few page faults instead of two thousand. The server's pixels come and go through the
// connection's shared-memory band (x11::Connection::band), a strip at a time.
class PixelBuffer {
  public:
    PixelBuffer() = default;
    PixelBuffer(int width, int height);
    ~PixelBuffer();
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    // Takes a new size within the memory it has; false when the memory is too small.
    bool reshape(int width, int height);
    // True until the buffer's memory was first reshaped: new memory is already black.
    bool fresh() const { return fresh_; }

    std::uint8_t* data() const { return data_; }
    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return static_cast<std::ptrdiff_t>(width_) * 4; }
    bool empty() const { return data_ == nullptr; }

  private:
    std::uint8_t* data_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::size_t capacity_ = 0;
    bool fresh_ = true;
    void* mapping_ = nullptr; // what munmap gets back: data_ lies inside it
    std::size_t mappingBytes_ = 0;
    std::unique_ptr<std::uint8_t[]> heap_; // small buffers, and when mapping fails
};

struct BitmapImpl final : BitmapState {
    std::unique_ptr<PixelBuffer> pixels = std::make_unique<PixelBuffer>();
    x11::SurfacePtr surface; // a cairo image surface over `pixels`

    cairo_surface_t* cairo() const { return surface.get(); }
    Size size() const override { return {pixels->width(), pixels->height()}; }
    bool holdsPixels() const override { return cairo() != nullptr; }
    void make(int width, int height) override;
    Pixels readPixels() const override;
};

struct PresSpaceImpl final : PresSpaceState {
    BitmapImpl* bitmap = nullptr; // the bitmap this space is bound to (it unbinds on death)
    std::shared_ptr<x11::Connection> conn;
    ::Window window = 0;
    Size windowSize;
    x11::SurfacePtr windowSurface; // made on first drawing while locked
    // A window's locked space: its drawing is sent when it is unlocked, in one go, rather
    // than after every primitive (each send wakes the server once more).
    bool sentOnUnlock = false;
    x11::CairoPtr cr; // the context of the primitive being drawn (beginDrawing to endDrawing)

    // The surface drawing goes to, or nullptr when there is none; `height` for conversion.
    cairo_surface_t* surface();
    int height() const;
    void flush(); // after drawing: a window's pixels go to the server (or wait for unlock)
    void unlocked() override;
    void boundTo(BitmapState* bitmap) override;
    Size size() const override;
    bool beginDrawing() override;
    bool endDrawing() override;
    bool drawGradient(Point start, Point end, const std::vector<Color>& colors) override;
    bool drawBox(Rect box, int fillMode) override;
    bool drawText(Point at, const std::string& text) override;
    bool drawBitmap(BitmapState& bitmap, Point at) override;
    bool putBitmap(BitmapState& bitmap, Point at) override;
    bool copyFrom(PresSpaceState& source, Rect box, Point sourceAt) override; // capture.cpp
};

struct WindowImpl final : WindowState {
    // What is drawn on the window goes before the window does.
    ~WindowImpl() override {
        lockedPS.reset();
        bitmap.reset();
    }

    std::shared_ptr<x11::Connection> conn;
    x11::XWindow window; // none for the desktop
    Size serverSize;     // the size the server last reported, to tell resizes apart from moves
    bool overrideRedirect = false;

    void showWindow() override;
    void hideWindow() override;
    void destroyWindow() override;
    void moved(Point pos, Size size) override;
    void resized(Point pos, Size size) override;
    void backgroundChanged() override;
    void aimAtWindow(PresSpaceState& space) override;
    void fitLockedSpace(PresSpaceState& space) override;
    void repaint() override;
    void createDialogWindow(const DialogState& settings) override;
    void createAreaWindow(WindowState& dialog) override;
    void forgetWindow() override;
    void layOut(const DialogState& settings) override;
    void titleChanged(const std::string& title) override;
    void dialogCreated(const DialogState& settings) override;
    void dialogDestroying() override;
    void paintArea() override;
    int parentHeight() const;
    void registerSelf();
};

} // namespace host::detail
