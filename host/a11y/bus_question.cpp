// NameHasOwner by hand: connect to the bus's Unix socket, authenticate as ourselves (EXTERNAL),
// send Hello and the question in one write, and read the answer. A few hundred bytes each way,
// where libdbus would first load itself and half a dozen libraries behind it.
#include "bus_question.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace host::a11y {

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// A socket address of the bus: a path, or a name in the abstract namespace.
struct Socket {
    std::string name;
    bool abstract = false;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// D-Bus escapes bytes in address values as %XX; a broken escape is kept as it stands.
std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const int hi = s[i] == '%' && i + 2 < s.size() ? hexDigit(s[i + 1]) : -1;
        const int lo = hi >= 0 ? hexDigit(s[i + 2]) : -1;
        if (lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// The Unix sockets an address lists, in its order ("unix:path=...;tcp:...").
std::vector<Socket> unixSockets(const std::string& address) {
    std::vector<Socket> found;
    std::size_t start = 0;
    while (start <= address.size()) {
        const std::size_t end = std::min(address.find(';', start), address.size());
        const std::string entry = address.substr(start, end - start);
        start = end + 1;
        if (entry.rfind("unix:", 0) != 0) {
            continue;
        }
        std::size_t at = 5;
        while (at < entry.size()) {
            const std::size_t comma = std::min(entry.find(',', at), entry.size());
            const std::string pair = entry.substr(at, comma - at);
            at = comma + 1;
            const std::size_t eq = pair.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string key = pair.substr(0, eq);
            if (key == "path" || key == "abstract") {
                const std::string value = unescape(pair.substr(eq + 1));
                if (!value.empty() && value.size() < sizeof(sockaddr_un::sun_path) - 1) {
                    found.push_back({value, key == "abstract"});
                }
            }
        }
    }
    return found;
}

int connectTo(const Socket& s) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const std::size_t offset = s.abstract ? 1 : 0; // the abstract namespace starts with a NUL
    std::memcpy(sa.sun_path + offset, s.name.data(), s.name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                               s.name.size() + (s.abstract ? 0 : 1));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Waits for the socket until the deadline; false when time ran out or it failed.
bool await(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) {
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool sendAll(int fd, const std::string& data, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!await(fd, POLLOUT, deadline)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

// Reads what is there into `into`, waiting for it; false at the end of the stream or time.
bool receive(int fd, std::string& into, Clock::time_point deadline) {
    char buf[1024];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
        if (!await(fd, POLLIN, deadline)) {
            return false;
        }
    }
}

// Marshals a method call to the bus itself, little-endian, with at most one string argument.
class Message {
  public:
    Message(std::uint32_t serial, const char* member, const char* argument) {
        std::string body;
        if (argument) {
            putString(body, argument);
        }
        bytes_ = {'l', 1, 0, 1}; // little-endian, a method call, no flags, protocol 1
        putU32(bytes_, static_cast<std::uint32_t>(body.size()));
        putU32(bytes_, serial);
        putU32(bytes_, 0); // the header fields' length, filled in below
        field(1, 'o', "/org/freedesktop/DBus");
        field(2, 's', "org.freedesktop.DBus");
        field(3, 's', member);
        field(6, 's', "org.freedesktop.DBus");
        if (argument) {
            field(8, 'g', "s");
        }
        const auto fields = static_cast<std::uint32_t>(bytes_.size() - 16);
        for (std::size_t i = 0; i < 4; ++i) {
            bytes_[12 + i] = static_cast<char>((fields >> (8 * i)) & 0xff);
        }
        align(bytes_, 8);
        bytes_ += body;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    static void align(std::string& s, std::size_t n) {
        while (s.size() % n != 0) {
            s.push_back('\0');
        }
    }
    static void putU32(std::string& s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
        }
    }
    static void putString(std::string& s, const char* v) {
        align(s, 4);
        putU32(s, static_cast<std::uint32_t>(std::strlen(v)));
        s += v;
        s.push_back('\0');
    }
    void field(char code, char type, const char* value) {
        align(bytes_, 8);
        bytes_.push_back(code);
        bytes_ += {1, type, '\0'}; // the variant's signature
        if (type == 'g') {
            bytes_.push_back(static_cast<char>(std::strlen(value)));
            bytes_ += value;
            bytes_.push_back('\0');
        } else {
            putString(bytes_, value);
        }
    }
    std::string bytes_;
};

// Reads a message's fields, bounds-checked; the bus writes in its own byte order.
class Reader {
  public:
    Reader(const std::string& s, bool big) : s_(s), big_(big) {}
    bool u32(std::size_t at, std::uint32_t& v) const {
        if (at + 4 > s_.size()) {
            return false;
        }
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint8_t>(s_[at + static_cast<std::size_t>(i)]);
            v |= static_cast<std::uint32_t>(byte) << (8 * (big_ ? 3 - i : i));
        }
        return true;
    }

  private:
    const std::string& s_;
    bool big_;
};

std::size_t aligned(std::size_t at, std::size_t n) {
    return (at + n - 1) / n * n;
}

enum class Reply { Incomplete, Other, Yes, No, Failed };

// Looks at the first whole message in `in`: the answer to call `serial` or something else
// (Hello's reply, a signal), which is then taken off `in`.
Reply nextMessage(std::string& in, std::uint32_t serial) {
    if (in.size() < 16) {
        return Reply::Incomplete;
    }
    if (in[0] != 'l' && in[0] != 'B') {
        return Reply::Failed;
    }
    const Reader r(in, in[0] == 'B');
    std::uint32_t bodyLength = 0, fieldsLength = 0;
    r.u32(4, bodyLength);
    r.u32(12, fieldsLength);
    constexpr std::uint32_t kLargest = 1 << 20; // our answers are tiny; anything else is wrong
    if (bodyLength > kLargest || fieldsLength > kLargest) {
        return Reply::Failed;
    }
    const std::size_t bodyAt = aligned(16 + fieldsLength, 8);
    if (in.size() < bodyAt + bodyLength) {
        return Reply::Incomplete;
    }
    const auto type = static_cast<std::uint8_t>(in[1]);
    // The header fields, each (code, variant) at an 8-byte boundary: find REPLY_SERIAL (5).
    std::uint32_t replyTo = 0;
    for (std::size_t at = 16; at < 16 + fieldsLength;) {
        at = aligned(at, 8);
        if (at + 3 > 16 + fieldsLength || in[at + 1] != 1) {
            return Reply::Failed;
        }
        const char code = in[at];
        const char sig = in[at + 2];
        at += 4;
        std::uint32_t v = 0;
        if (sig == 'u') {
            at = aligned(at, 4);
            if (!r.u32(at, v)) {
                return Reply::Failed;
            }
            at += 4;
            if (code == 5) {
                replyTo = v;
            }
        } else if (sig == 's' || sig == 'o') {
            at = aligned(at, 4);
            if (!r.u32(at, v) || v > kLargest) {
                return Reply::Failed;
            }
            at += 4 + v + 1;
        } else if (sig == 'g') {
            at += 1 + static_cast<std::uint8_t>(in[at]) + 1;
        } else {
            return Reply::Failed; // no other header field types exist
        }
    }
    Reply reply = Reply::Other;
    if (replyTo == serial && type == 3) {
        reply = Reply::No; // an error: the question was not answered
    } else if (replyTo == serial && type == 2) {
        std::uint32_t answer = 0;
        reply = bodyLength >= 4 && r.u32(bodyAt, answer) ? (answer ? Reply::Yes : Reply::No)
                                                         : Reply::Failed;
    }
    in.erase(0, bodyAt + bodyLength);
    return reply;
}

bool ask(int fd, const std::string& name, Clock::time_point deadline) {
    // EXTERNAL: the bus knows our uid from the socket; we name it in hex-encoded decimal.
    std::string auth(1, '\0');
    auth += "AUTH EXTERNAL ";
    for (const char c : std::to_string(::getuid())) {
        static const char hex[] = "0123456789abcdef";
        auth.push_back(hex[static_cast<unsigned char>(c) >> 4]);
        auth.push_back(hex[static_cast<unsigned char>(c) & 0xf]);
    }
    auth += "\r\n";
    std::string in;
    if (!sendAll(fd, auth, deadline)) {
        return false;
    }
    while (in.find("\r\n") == std::string::npos) {
        if (in.size() > 4096 || !receive(fd, in, deadline)) {
            return false;
        }
    }
    if (in.rfind("OK ", 0) != 0) {
        return false;
    }
    in.clear();
    constexpr std::uint32_t kQuestion = 2;
    const std::string calls = "BEGIN\r\n" + Message(1, "Hello", nullptr).bytes() +
                              Message(kQuestion, "NameHasOwner", name.c_str()).bytes();
    if (!sendAll(fd, calls, deadline)) {
        return false;
    }
    for (;;) {
        switch (nextMessage(in, kQuestion)) {
        case Reply::Yes:
            return true;
        case Reply::No:
        case Reply::Failed:
            return false;
        case Reply::Other:
            break;
        case Reply::Incomplete:
            if (!receive(fd, in, deadline)) {
                return false;
            }
            break;
        }
    }
}

} // namespace

std::optional<bool> NameHasOwner(const std::string& address, const std::string& name,
                                 std::chrono::milliseconds timeout) {
    const std::vector<Socket> sockets = unixSockets(address);
    if (sockets.empty()) {
        return std::nullopt;
    }
    const auto deadline = Clock::now() + timeout;
    for (const Socket& s : sockets) {
        const Fd fd(connectTo(s));
        if (fd.get() >= 0) {
            return ask(fd.get(), name, deadline); // the first that takes us answers
        }
    }
    return false;
}

} // namespace host::a11y
