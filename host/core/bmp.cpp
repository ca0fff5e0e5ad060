// BMP writer: header and rows are produced in chunks into one reusable buffer of 128 KiB, not a
// second copy of the image. Small enough to stay in the cache, and to cost few fresh pages on
// first use; large enough that a 1080p capture is some fifty writes.
#include "bmp.h"

#include "wide.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace host::bmp {
namespace {

constexpr std::size_t kHeaderSize = 14 + 40;

std::size_t rowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void header(std::uint8_t* h, int width, int height) {
    std::memset(h, 0, kHeaderSize);
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(FileSize(width, height)));
    put32(h + 10, kHeaderSize); // offset of the pixel rows
    put32(h + 14, 40);          // BITMAPINFOHEADER
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height)); // positive: rows stored bottom-up
    put16(h + 26, 1);                                  // planes
    put16(h + 28, 24);                                 // bits per pixel
    put32(h + 34, static_cast<std::uint32_t>(rowBytes(width) * static_cast<std::size_t>(height)));
    put32(h + 38, 3780); // 96 dpi in pixels per metre
    put32(h + 42, 3780);
}

// One BMP row (BGR triples, zero padding) from one BGRX source row.
void encodeRow(std::uint8_t* out, const std::uint8_t* src, int width, std::size_t padded) {
    std::uint8_t* o = out;
    for (int x = 0; x < width; ++x, src += 4, o += 3) {
        o[0] = src[0];
        o[1] = src[1];
        o[2] = src[2];
    }
    std::memset(o, 0, padded - static_cast<std::size_t>(width) * 3);
}

#ifdef _WIN32

// Owns a temporary file until it is moved into place; removes it otherwise. The name carries
// the process and a counter, and CREATE_NEW refuses one that exists.
class TempFile {
  public:
    explicit TempFile(const std::string& target) : target_(detail::WidenName(target)) {
        if (target_.empty()) {
            return;
        }
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 16 && file_ == INVALID_HANDLE_VALUE; ++attempt) {
            path_ = target_ + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                    std::to_wstring(counter++) + L".tmp";
            file_ = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file_ == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
    }
    ~TempFile() {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            DeleteFileW(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    bool open() const { return file_ != INVALID_HANDLE_VALUE; }
    bool write(const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(file_, p, chunk, &written, nullptr) || written == 0) {
                error_ = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
                return false;
            }
            p += written;
            n -= written;
        }
        return true;
    }
    bool commit(const std::string&) {
        const bool closed = CloseHandle(file_) != 0;
        file_ = INVALID_HANDLE_VALUE;
        // Replaces an existing file (or link) of that name in one step.
        if (closed && MoveFileExW(path_.c_str(), target_.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        error_ = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
        DeleteFileW(path_.c_str());
        return false;
    }
    // Why the file could not be made, written or put in place (an errno value), 0 when it could.
    int error() const { return open() || error_ ? error_ : EACCES; }

  private:
    std::wstring target_;
    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    int error_ = 0;
};

#else

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Owns a temporary file until it is renamed into place; removes it otherwise.
class TempFile {
  public:
    explicit TempFile(const std::string& target) : path_(target + ".XXXXXX") {
        fd_ = ::mkstemp(path_.data());
        created_ = fd_ >= 0;
        error_ = created_ ? 0 : errno;
    }
    ~TempFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (created_ && !committed_) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    bool open() const { return fd_ >= 0; }
    bool write(const std::uint8_t* p, std::size_t n) {
        if (!writeAll(fd_, p, n)) {
            error_ = errno; // a full disk: ENOSPC
            return false;
        }
        return true;
    }
    bool commit(const std::string& target) {
        // A capture is read by image viewers: give it the usual permissions, not mkstemp's 0600.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        committed_ = closed && ::rename(path_.c_str(), target.c_str()) == 0;
        error_ = committed_ ? 0 : errno; // a folder of that name: EISDIR
        return committed_;
    }
    // Why the file could not be made, written or put in place (an errno value), 0 when it could.
    int error() const { return error_; }

  private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
    int error_ = 0;
};

#endif

} // namespace

std::size_t FileSize(int width, int height) {
    return kHeaderSize + rowBytes(width) * static_cast<std::size_t>(height);
}

void Encode(std::uint8_t* out, const std::uint8_t* pixels, int width, int height,
            std::ptrdiff_t stride) {
    header(out, width, height);
    const std::size_t padded = rowBytes(width);
    std::uint8_t* o = out + kHeaderSize;
    for (int y = height - 1; y >= 0; --y, o += padded) {
        encodeRow(o, pixels + stride * y, width, padded);
    }
}

bool WriteFile(const std::string& path, const std::uint8_t* pixels, int width, int height,
               std::ptrdiff_t stride, int* error) {
    int ignored = 0;
    int& reason = error ? *error : ignored;
    reason = 0;
    if (width <= 0 || height <= 0) {
        reason = EINVAL;
        return false;
    }
    TempFile tmp(path);
    const auto failed = [&] {
        reason = tmp.error();
        return false;
    };
    if (!tmp.open()) {
        return failed(); // folder not writable: nothing was created
    }
    constexpr std::size_t kChunk = std::size_t{128} << 10;
    const std::size_t padded = rowBytes(width);
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, kChunk / padded);
    thread_local std::vector<std::uint8_t> buffer;
    buffer.resize(std::max(kHeaderSize, rowsPerChunk * padded));

    header(buffer.data(), width, height);
    if (!tmp.write(buffer.data(), kHeaderSize)) {
        return failed();
    }
    int y = height - 1;
    while (y >= 0) {
        std::size_t n = 0;
        for (; n < rowsPerChunk && y >= 0; ++n, --y) {
            encodeRow(buffer.data() + n * padded, pixels + stride * y, width, padded);
        }
        if (!tmp.write(buffer.data(), n * padded)) {
            return failed();
        }
    }
    return tmp.commit(path) || failed();
}

} // namespace host::bmp
