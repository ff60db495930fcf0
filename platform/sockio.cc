#include "platform/sockio.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace vorel {

ssize_t read_full(int fd, void *buf, size_t len) {
    uint8_t *p = static_cast<uint8_t *>(buf);
    size_t got = 0;
    while (got < len) {
        ssize_t n = ::read(fd, p + got, len - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            if (got == 0)
                return 0;
            errno = EPIPE;
            return -1;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool write_full(int fd, const void *buf, size_t len) {
    const uint8_t *p = static_cast<const uint8_t *>(buf);
    while (len > 0) {
        ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

static bool set_timeout(int fd, int option, unsigned ms) {
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    return ms == 0 || setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

// A command connects to each PIC in turn: a system call it can leave out
// is one per PIC.
bool set_socket_timeouts(int fd, unsigned recv_ms, unsigned send_ms) {
    return set_timeout(fd, SO_RCVTIMEO, recv_ms) && set_timeout(fd, SO_SNDTIMEO, send_ms);
}

int tcp_connect(const in_addr &addr, uint16_t port, unsigned timeout_ms) {
    // With a timeout the connect does not block; the socket blocks again
    // once connected (a new socket has no other status flags to keep).
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (timeout_ms ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0) {
        if (!timeout_ms || errno != EINPROGRESS) {
            int e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        pollfd pfd{fd, POLLOUT, 0};
        int r;
        do {
            r = ::poll(&pfd, 1, static_cast<int>(timeout_ms));
        } while (r < 0 && errno == EINTR);
        int err = 0;
        socklen_t el = sizeof err;
        if (r == 0)
            err = ETIMEDOUT;
        else if (r < 0)
            err = errno;
        else
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el);
        if (err) {
            ::close(fd);
            errno = err;
            return -1;
        }
    }
    if (timeout_ms)
        fcntl(fd, F_SETFL, 0);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
    return fd;
}

int tcp_listen(const in_addr &addr, uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 || ::listen(fd, 64) < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

static bool fill_unix_addr(const std::string &path, sockaddr_un &sa) {
    sa = {};
    sa.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof sa.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int unix_connect(const std::string &path) {
    sockaddr_un sa;
    if (!fill_unix_addr(path, sa))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int unix_listen(const std::string &path) {
    sockaddr_un sa;
    if (!fill_unix_addr(path, sa))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 || ::listen(fd, 64) < 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

// The length and the bytes go out in one system call where they can: as
// two writes a request and its answer cost the peer two wake-ups, and the
// kernel snapshot is a few hundred such round trips.
bool write_frame(int fd, const void *data, size_t len) {
    uint8_t hdr[4] = {uint8_t(len >> 24), uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)};
    iovec iov[2] = {{hdr, sizeof hdr}, {const_cast<void *>(data), len}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    ssize_t n;
    do
        n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0 && errno != ENOTSOCK)
        return false;
    size_t sent = n < 0 ? 0 : static_cast<size_t>(n);
    if (sent < sizeof hdr)
        return write_full(fd, hdr + sent, sizeof hdr - sent) && write_full(fd, data, len);
    sent -= sizeof hdr;
    return write_full(fd, static_cast<const uint8_t *>(data) + sent, len - sent);
}

void StreamReader::attach(int fd) noexcept {
    fd_ = fd;
    head_ = tail_ = 0;
}

// What read_full answers when the stream ends after got bytes of a read:
// 0 at its start, a short read (EPIPE) otherwise.
static ssize_t ended_after(size_t got) {
    if (got == 0)
        return 0;
    errno = EPIPE;
    return -1;
}

ssize_t StreamReader::read_full(void *buf, size_t len) {
    uint8_t *d = static_cast<uint8_t *>(buf);
    size_t got = std::min(len, buffered());
    std::memcpy(d, buf_ + head_, got);
    head_ += got;
    if (got == len)
        return static_cast<ssize_t>(len);
    head_ = tail_ = 0;
    if (len - got >= sizeof buf_) {
        ssize_t n = vorel::read_full(fd_, d + got, len - got);
        if (n > 0)
            return static_cast<ssize_t>(len);
        return n == 0 ? ended_after(got) : -1;
    }
    while (got < len) {
        ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return ended_after(got);
        tail_ = static_cast<size_t>(n);
        head_ = std::min(len - got, tail_);
        std::memcpy(d + got, buf_, head_);
        got += head_;
    }
    return static_cast<ssize_t>(len);
}

bool read_frame(StreamReader &in, std::vector<uint8_t> &out, size_t max) {
    uint8_t hdr[4];
    if (in.read_full(hdr, 4) != 4)
        return false;
    size_t len = size_t(hdr[0]) << 24 | size_t(hdr[1]) << 16 | size_t(hdr[2]) << 8 | hdr[3];
    if (len > max) {
        errno = EMSGSIZE;
        return false;
    }
    out.resize(len);
    return len == 0 || in.read_full(out.data(), len) == static_cast<ssize_t>(len);
}

std::string errno_text(int err) {
    return std::strerror(err);
}

} // namespace vorel
