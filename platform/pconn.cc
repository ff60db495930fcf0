#include "platform/pconn.h"

#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/sockio.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

static_assert(PCONN_EP_MSVCS_SYNC_MONITOR == vorel::lab_link::kMonitorPort);

struct pconn_client {
    int fd = -1;
};

namespace {

using Clock = std::chrono::steady_clock;

// Reads exactly len bytes before the deadline; false with errno.
bool read_before(int fd, uint8_t *buf, size_t len, Clock::time_point deadline) {
    size_t got = 0;
    while (got < len) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        ssize_t n = ::read(fd, buf + got, len - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EPIPE;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

pconn_client *pconn_client_connect(unsigned fpc, unsigned pic, uint16_t endpoint) {
    in_addr addr;
    if (!vorel::lab_link::pic_agent_address(fpc, pic, addr)) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = vorel::tcp_connect(addr, endpoint, PCONN_CONNECT_TIMEOUT_MS);
    if (fd < 0)
        return nullptr;
    return new pconn_client{fd};
}

int pconn_client_send(pconn_client *c, uint16_t type, const void *body, size_t len) {
    if (!c || c->fd < 0 || (len && !body) || len > PCONN_MAX_BODY) {
        errno = EINVAL;
        return -1;
    }
    vorel::ByteAppender frame;
    frame.be16(type);
    frame.be16(0);
    frame.be32(static_cast<uint32_t>(len));
    frame.bytes(body, len);
    return vorel::write_full(c->fd, frame.buffer().data(), frame.size()) ? 0 : -1;
}

// A failed read may leave part of a frame unread: the stream cannot be
// trusted any more, so the connection is dropped.
static int drop_connection(pconn_client *c) {
    int e = errno;
    ::close(c->fd);
    c->fd = -1;
    errno = e;
    return -1;
}

int pconn_client_recv(pconn_client *c, pconn_msg &msg, unsigned timeout_ms) {
    if (!c || c->fd < 0) {
        errno = c ? ENOTCONN : EINVAL;
        return -1;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    uint8_t hdr[PCONN_HEADER_SIZE];
    if (!read_before(c->fd, hdr, sizeof hdr, deadline))
        return drop_connection(c);
    vorel::ByteReader h(hdr, sizeof hdr);
    uint32_t len = h.be32(4);
    if (len > PCONN_MAX_BODY) {
        errno = EMSGSIZE;
        return drop_connection(c);
    }
    msg.type = h.be16(0);
    msg.body.resize(len);
    if (len && !read_before(c->fd, msg.body.data(), len, deadline))
        return drop_connection(c);
    return 0;
}

void pconn_client_close(pconn_client *c) {
    if (!c)
        return;
    if (c->fd >= 0)
        ::close(c->fd);
    delete c;
}
