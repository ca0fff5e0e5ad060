// Event dispatch on X11: the wake-up that ends the event loop's wait when an event is posted.
#pragma once

namespace host::x11 {

// An eventfd that the event loop polls beside its connection.
class WakeFd {
  public:
    WakeFd();
    ~WakeFd();
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    int fd() const { return fd_; }
    void wake() const;
    void drain() const; // after a wake-up: the counter back to zero

  private:
    int fd_;
};

} // namespace host::x11
