// The screencopy route: a Wayland connection of our own binds wl_shm, every wl_output and
// zwlr_screencopy_manager_v1, has each output copied into a buffer of shared memory, and
// composes the outputs into the desktop. Also the watch for the first changed frame.
#include "compose.h"
#include "routes.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace host::compositor::detail {
namespace {

// How long a plain copy may take: a compositor answers within a frame or two.
constexpr std::chrono::milliseconds kCopyBound{2000};

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const {
        if (p) {
            Free(p);
        }
    }
};
using DisplayPtr = std::unique_ptr<wl_display, Deleter<wl_display, wl_display_disconnect>>;
using RegistryPtr = std::unique_ptr<wl_registry, Deleter<wl_registry, wl_registry_destroy>>;
using ShmPtr = std::unique_ptr<wl_shm, Deleter<wl_shm, wl_shm_destroy>>;
using OutputPtr = std::unique_ptr<wl_output, Deleter<wl_output, wl_output_destroy>>;
using ManagerPtr =
    std::unique_ptr<zwlr_screencopy_manager_v1,
                    Deleter<zwlr_screencopy_manager_v1, zwlr_screencopy_manager_v1_destroy>>;
using FramePtr =
    std::unique_ptr<zwlr_screencopy_frame_v1,
                    Deleter<zwlr_screencopy_frame_v1, zwlr_screencopy_frame_v1_destroy>>;
using BufferPtr = std::unique_ptr<wl_buffer, Deleter<wl_buffer, wl_buffer_destroy>>;
using PoolPtr = std::unique_ptr<wl_shm_pool, Deleter<wl_shm_pool, wl_shm_pool_destroy>>;

// A memfd mapped into this process, shared with the compositor through a wl_shm_pool.
class SharedMemory {
  public:
    SharedMemory() = default;
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory() {
        if (data_) {
            ::munmap(data_, size_);
        }
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool create(std::size_t size) {
        fd_ = ::memfd_create("menutip-screencopy", MFD_CLOEXEC);
        if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
            return false;
        }
        void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (p == MAP_FAILED) {
            return false;
        }
        data_ = p;
        size_ = size;
        return true;
    }
    int fd() const { return fd_; }
    const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(data_); }

  private:
    int fd_ = -1;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Output {
    OutputPtr output;
    int x = 0, y = 0, transform = 0, scale = 1;
};

// One output's copy in flight.
struct Frame {
    Output* output = nullptr;
    FramePtr frame;
    std::uint32_t format = 0;
    int width = 0, height = 0, stride = 0;
    bool bufferKnown = false; // a wl_shm buffer event came
    bool yInvert = false;
    bool damaged = false;
    enum class End { Pending, Ready, Failed } end = End::Pending;
    SharedMemory memory;
    BufferPtr buffer;
};

bool accepted(std::uint32_t format) {
    return format == kXrgb8888 || format == kArgb8888 || format == kXbgr8888 || format == kAbgr8888;
}

// ---- Listeners ---------------------------------------------------------------------------

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t transform) {
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
    o->transform = transform;
}
void outputMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<Output*>(data)->scale = factor;
}
void outputName(void*, wl_output*, const char*) {}
void outputDescription(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener{outputGeometry, outputMode, outputDone,
                                         outputScale,    outputName, outputDescription};

void frameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
    auto* f = static_cast<Frame*>(data);
    if (accepted(format) && !f->bufferKnown) {
        f->format = format;
        f->width = static_cast<int>(width);
        f->height = static_cast<int>(height);
        f->stride = static_cast<int>(stride);
        f->bufferKnown = true;
    }
}
void frameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<Frame*>(data)->yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void frameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<Frame*>(data)->end = Frame::End::Ready;
}
void frameFailed(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<Frame*>(data)->end = Frame::End::Failed;
}
void frameDamage(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {
    static_cast<Frame*>(data)->damaged = true;
}
void frameDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
void frameBufferDone(void*, zwlr_screencopy_frame_v1*) {}
const zwlr_screencopy_frame_v1_listener kFrameListener{
    frameBuffer, frameFlags, frameReady, frameFailed, frameDamage, frameDmabuf, frameBufferDone};

// ---- The connection ------------------------------------------------------------------------

struct Session {
    DisplayPtr display;
    RegistryPtr registry;
    ShmPtr shm;
    ManagerPtr manager;
    std::uint32_t managerVersion = 0;
    std::vector<std::unique_ptr<Output>> outputs;
};

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                    uint32_t version) {
    auto* s = static_cast<Session*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        s->shm.reset(static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1)));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        // Version 2 brings the scale; nothing later is needed.
        o->output.reset(static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u))));
        wl_output_add_listener(o->output.get(), &kOutputListener, o.get());
        s->outputs.push_back(std::move(o));
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0) {
        s->managerVersion = std::min(version, 3u);
        s->manager.reset(static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_screencopy_manager_v1_interface, s->managerVersion)));
    }
}
void registryRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{registryGlobal, registryRemove};

// Connects and learns the globals and every output's position, transform and scale.
std::unique_ptr<Session> connect(std::string& failure) {
    if (!SocketNamed()) {
        failure = "no Wayland compositor (neither WAYLAND_DISPLAY nor XDG_RUNTIME_DIR is set)";
        return nullptr;
    }
    auto s = std::make_unique<Session>();
    s->display.reset(wl_display_connect(nullptr));
    if (!s->display) {
        failure = "no Wayland compositor answers";
        return nullptr;
    }
    s->registry.reset(wl_display_get_registry(s->display.get()));
    wl_registry_add_listener(s->registry.get(), &kRegistryListener, s.get());
    // The first round trip brings the globals, the second the outputs' properties.
    if (wl_display_roundtrip(s->display.get()) < 0 || wl_display_roundtrip(s->display.get()) < 0) {
        failure = "the Wayland connection failed";
        return nullptr;
    }
    if (!s->manager) {
        failure = "the compositor offers no screencopy";
        return nullptr;
    }
    if (!s->shm || s->outputs.empty()) {
        failure = "the compositor offers no shared memory or no outputs";
        return nullptr;
    }
    return s;
}

// Dispatches the connection's events until `done()` or `deadline`; false on a broken
// connection or when time ran out.
template <typename Done> bool dispatchUntil(wl_display* d, Done done, Clock::time_point deadline) {
    while (!done()) {
        while (wl_display_prepare_read(d) != 0) {
            if (wl_display_dispatch_pending(d) < 0) {
                return false;
            }
        }
        if (done()) {
            wl_display_cancel_read(d);
            return true;
        }
        wl_display_flush(d);
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            wl_display_cancel_read(d);
            return false;
        }
        pollfd pfd{wl_display_get_fd(d), POLLIN, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(left));
        if (n > 0) {
            if (wl_display_read_events(d) < 0) {
                return false;
            }
        } else {
            wl_display_cancel_read(d);
            if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        if (wl_display_dispatch_pending(d) < 0) {
            return false;
        }
    }
    return true;
}

// Asks for a copy of every output: the buffers' descriptions first, then the copies into
// shared memory (waiting for damage when `withDamage`). False with a reason on failure.
bool requestCopies(Session& s, std::vector<std::unique_ptr<Frame>>& frames, bool withDamage,
                   std::string& failure) {
    for (auto& o : s.outputs) {
        auto f = std::make_unique<Frame>();
        f->output = o.get();
        f->frame.reset(
            zwlr_screencopy_manager_v1_capture_output(s.manager.get(), 0, o->output.get()));
        zwlr_screencopy_frame_v1_add_listener(f->frame.get(), &kFrameListener, f.get());
        frames.push_back(std::move(f));
    }
    // The buffer events answer capture_output at once.
    if (wl_display_roundtrip(s.display.get()) < 0) {
        failure = "the Wayland connection failed";
        return false;
    }
    for (auto& f : frames) {
        if (!f->bufferKnown || f->end == Frame::End::Failed) {
            failure = "the compositor offers no shared-memory buffer in a known pixel format";
            return false;
        }
        const std::size_t size =
            static_cast<std::size_t>(f->stride) * static_cast<std::size_t>(f->height);
        if (!f->memory.create(size)) {
            failure = std::string("no shared memory: ") + std::strerror(errno);
            return false;
        }
        const PoolPtr pool(
            wl_shm_create_pool(s.shm.get(), f->memory.fd(), static_cast<int32_t>(size)));
        f->buffer.reset(
            wl_shm_pool_create_buffer(pool.get(), 0, f->width, f->height, f->stride, f->format));
        if (withDamage) {
            zwlr_screencopy_frame_v1_copy_with_damage(f->frame.get(), f->buffer.get());
        } else {
            zwlr_screencopy_frame_v1_copy(f->frame.get(), f->buffer.get());
        }
    }
    wl_display_flush(s.display.get());
    return true;
}

} // namespace

std::optional<Picture> ScreencopyDesktop(std::string& failure) {
    auto s = connect(failure);
    if (!s) {
        return std::nullopt;
    }
    std::vector<std::unique_ptr<Frame>> frames;
    if (!requestCopies(*s, frames, false, failure)) {
        return std::nullopt;
    }
    const auto allEnded = [&] {
        return std::all_of(frames.begin(), frames.end(),
                           [](const auto& f) { return f->end != Frame::End::Pending; });
    };
    if (!dispatchUntil(s->display.get(), allEnded, Clock::now() + kCopyBound)) {
        failure = "the compositor copied no frame within 2 s";
        return std::nullopt;
    }
    std::vector<OutputImage> images;
    for (const auto& f : frames) {
        if (f->end != Frame::End::Ready) {
            failure = "the compositor refused to copy an output";
            return std::nullopt;
        }
        OutputImage img;
        img.x = f->output->x;
        img.y = f->output->y;
        img.transform = f->output->transform;
        img.scale = f->output->scale;
        img.yInvert = f->yInvert;
        img.width = f->width;
        img.height = f->height;
        img.stride = f->stride;
        img.format = f->format;
        img.data = f->memory.data(); // read in place, while the frames live
        images.push_back(std::move(img));
    }
    auto picture = Compose(images);
    if (!picture) {
        failure = "the outputs cover no area";
    }
    return picture;
}

// ---- The watch for a changed frame -----------------------------------------------------------

struct DamageWatch::State {
    std::unique_ptr<Session> session;
    std::vector<std::unique_ptr<Frame>> frames;
};

DamageWatch::DamageWatch(std::unique_ptr<State> s) : state_(std::move(s)) {}
DamageWatch::~DamageWatch() = default;

std::unique_ptr<DamageWatch> DamageWatch::Arm() {
    std::string failure;
    auto state = std::make_unique<State>();
    state->session = connect(failure);
    if (!state->session || state->session->managerVersion < 2 ||
        !requestCopies(*state->session, state->frames, true, failure)) {
        return nullptr;
    }
    return std::unique_ptr<DamageWatch>(new DamageWatch(std::move(state)));
}

bool DamageWatch::waitForChange(Clock::time_point deadline) {
    const auto anyEnded = [&] {
        return std::any_of(state_->frames.begin(), state_->frames.end(),
                           [](const auto& f) { return f->end != Frame::End::Pending; });
    };
    return dispatchUntil(state_->session->display.get(), anyEnded, deadline) &&
           std::any_of(state_->frames.begin(), state_->frames.end(),
                       [](const auto& f) { return f->end == Frame::End::Ready; });
}

} // namespace host::compositor::detail
