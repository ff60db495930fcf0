#include "platform/services_ui.h"

#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/sockio.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The library's own timers, used for every zero value of a triple.
constexpr uint32_t kDefaultConnect = 10;
constexpr uint32_t kDefaultSend = 10;
constexpr uint32_t kDefaultReceive = 120;
constexpr unsigned kDefaultUnitMs = 1000;

// Bytes are taken from the socket in reads of at least this much room, so
// that a stream of small replies costs one system call per many replies.
constexpr size_t kInitialBuffer = 256 * 1024;
constexpr size_t kMinReadRoom = 64 * 1024;

constexpr size_t kMsgLenOffset = 4;
constexpr size_t kMsgHeaderSize = 8;

// The receive buffer of the channel closed last, for the next one: a
// command opens a channel to each PIC in turn, and a fresh buffer for each
// was 256 KiB to allocate and clear again.
thread_local std::vector<uint8_t> spare_buffer;

} // namespace

struct services_ui_conn {
    int fd = -1;
    unsigned receive_ms = 0;
    // Received bytes not yet handed out are buf[head, tail).  A reply handed
    // to the caller points into buf and stays put until the next receive.
    std::vector<uint8_t> buf;
    size_t head = 0;
    size_t tail = 0;
    // Requests sent whose answer end has not arrived yet.  Frames that come
    // while more than one is outstanding belong to an earlier request whose
    // caller stopped reading early.
    unsigned outstanding = 0;
    // The peer closed or broke the framing: nothing more can be exchanged.
    bool broken = false;
    int last_error = 0;
    // Replies of the latest request passed over for their type.
    unsigned other_type = 0;
    // Who the channel talks to, for messages ("fpc 1 pic 0"; empty when
    // attached to a socket handed in).
    std::string peer;
};

namespace {

struct Frame {
    uint8_t kind = 0;
    const uint8_t *data = nullptr;
    size_t size = 0;
};

unsigned time_unit_ms() {
    const char *p = std::getenv("VOREL_UI_TIME_UNIT_MS");
    if (!p || !*p)
        return kDefaultUnitMs;
    char *end = nullptr;
    unsigned long v = std::strtoul(p, &end, 10);
    if (*end || v == 0 || v > 3600000)
        return kDefaultUnitMs;
    return static_cast<unsigned>(v);
}

unsigned to_ms(uint32_t value, uint32_t dflt, unsigned unit) {
    uint64_t ms = uint64_t{value ? value : dflt} * unit;
    return ms > INT_MAX ? INT_MAX : static_cast<unsigned>(ms);
}

services_ui_conn *connect_agent(const in_addr &addr, uint16_t port, const services_ui_timer &t) {
    int fd = vorel::tcp_connect(addr, port, to_ms(t.connect, kDefaultConnect, time_unit_ms()));
    if (fd < 0)
        return nullptr;
    return services_ui_attach(fd, &t);
}

// Makes room for `need` bytes from head, keeping reads large.
void make_room(services_ui_conn *c, size_t need) {
    size_t avail = c->tail - c->head;
    if (c->buf.size() - c->head < need || c->buf.size() - c->tail < kMinReadRoom) {
        std::memmove(c->buf.data(), c->buf.data() + c->head, avail);
        c->head = 0;
        c->tail = avail;
    }
    if (c->buf.size() < need)
        c->buf.resize(need + kMinReadRoom);
}

// Reads whatever the socket holds into the buffer, waiting until the
// deadline when it holds nothing.  0, ETIMEDOUT, EPIPE (closed) or an errno.
int fill(services_ui_conn *c, std::chrono::steady_clock::time_point deadline) {
    bool flushed = false;
    for (;;) {
        ssize_t n = ::recv(c->fd, c->buf.data() + c->tail, c->buf.size() - c->tail, MSG_DONTWAIT);
        if (n > 0) {
            c->tail += static_cast<size_t>(n);
            return 0;
        }
        if (n == 0)
            return EPIPE;
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET)
            return EPIPE;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno;
        // Nothing at hand: whatever was printed so far goes out before we
        // wait on a PIC that may be slow.
        if (!flushed) {
            std::fflush(stdout);
            flushed = true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        pollfd p{c->fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
        if (r < 0 && errno != EINTR)
            return errno;
    }
}

// The next whole frame, waiting at most the receive timer for it.  The
// clock is read only when the buffer runs dry: most frames are at hand.
int next_frame(services_ui_conn *c, Frame &f) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    for (;;) {
        size_t avail = c->tail - c->head;
        size_t need = SERVICES_UI_FRAME_HEADER;
        if (avail >= SERVICES_UI_FRAME_HEADER) {
            vorel::ByteReader hdr(c->buf.data() + c->head, SERVICES_UI_FRAME_HEADER);
            uint8_t kind = hdr.u8(0);
            size_t len = hdr.be32(4);
            if (len > SERVICES_UI_MAX_FRAME || kind < SERVICES_UI_FRAME_REPLY ||
                kind > SERVICES_UI_FRAME_ANSWER_END)
                return EPROTO;
            need += len;
            if (avail >= need) {
                f.kind = kind;
                f.data = c->buf.data() + c->head + SERVICES_UI_FRAME_HEADER;
                f.size = len;
                c->head += need;
                return 0;
            }
        }
        make_room(c, need);
        if (!deadline)
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(c->receive_ms);
        if (int e = fill(c, *deadline))
            return e;
    }
}

uint16_t message_type(const Frame &f, bool &ok) {
    vorel::ByteReader r(f.data, f.size);
    ok = r.has(0, 2);
    return ok ? r.be16(0) : 0;
}

// Reads frames of the current request's answer until `want` gives one of
// type `type`, or the end marker `end_kind` (besides the answer end) comes.
// A null frame data means no frame; last_error tells why.
Frame next_of(services_ui_conn *c, uint8_t want, uint8_t end_kind, uint16_t type) {
    c->last_error = 0;
    while (c && c->outstanding > 0 && !c->broken) {
        Frame f;
        if (int e = next_frame(c, f)) {
            c->last_error = e;
            // After a timeout the stream is still whole; anything else ends it.
            if (e != ETIMEDOUT)
                c->broken = true;
            return {};
        }
        if (f.kind == SERVICES_UI_FRAME_ANSWER_END) {
            if (--c->outstanding == 0)
                return {};
            continue;
        }
        if (c->outstanding > 1)
            continue; // left over from an earlier request's answer
        if (f.kind == end_kind)
            return {};
        bool ok = false;
        if (f.kind == want && message_type(f, ok) == type && ok)
            return f;
        if (f.kind == SERVICES_UI_FRAME_REPLY)
            c->other_type++;
    }
    if (c->broken && c->last_error == 0)
        c->last_error = EPIPE;
    return {};
}

} // namespace

services_ui_conn *services_ui_attach(int fd, const services_ui_timer *t) {
    services_ui_timer timers = t ? *t : services_ui_timer{};
    unsigned unit = time_unit_ms();
    // Receives do not wait in the socket (MSG_DONTWAIT, then poll): only
    // sends take a timeout.
    vorel::set_socket_timeouts(fd, 0, to_ms(timers.send, kDefaultSend, unit));
    auto *c = new (std::nothrow) services_ui_conn;
    if (!c) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    c->fd = fd;
    c->receive_ms = to_ms(timers.receive, kDefaultReceive, unit);
    c->buf.swap(spare_buffer);
    if (c->buf.size() < kInitialBuffer)
        c->buf.resize(kInitialBuffer);
    return c;
}

services_ui_conn *services_ui_open_timeout(unsigned fpc, unsigned pic, uint16_t port,
                                           services_ui_error_cb err, const services_ui_timer *t) {
    in_addr addr{};
    if (!vorel::lab_link::pic_agent_address(fpc, pic, addr)) {
        if (err)
            err(1, "services_ui: no address for fpc %u pic %u\n", fpc, pic);
        errno = EINVAL;
        return nullptr;
    }
    services_ui_conn *c = connect_agent(addr, port, t ? *t : services_ui_timer{});
    if (!c) {
        int e = errno;
        if (err)
            err(1, "services_ui: cannot connect to fpc %u pic %u port %u: %s\n", fpc, pic,
                unsigned{port}, std::strerror(e));
        errno = e;
        return nullptr;
    }
    c->peer = "fpc " + std::to_string(fpc) + " pic " + std::to_string(pic);
    return c;
}

services_ui_conn *services_ui_open(unsigned fpc, unsigned pic, uint16_t port,
                                   services_ui_error_cb err) {
    services_ui_timer defaults;
    return services_ui_open_timeout(fpc, pic, port, err, &defaults);
}

services_ui_conn *services_inline_ui_open(unsigned fpc, uint16_t port, services_ui_error_cb err) {
    in_addr addr{};
    if (!vorel::lab_link::linecard_agent_address(fpc, addr)) {
        if (err)
            err(1, "services_ui: no address for fpc %u\n", fpc);
        errno = EINVAL;
        return nullptr;
    }
    services_ui_conn *c = connect_agent(addr, port, services_ui_timer{});
    if (!c) {
        int e = errno;
        if (err)
            err(1, "services_ui: cannot connect to fpc %u port %u: %s\n", fpc, unsigned{port},
                std::strerror(e));
        errno = e;
        return nullptr;
    }
    c->peer = "fpc " + std::to_string(fpc);
    return c;
}

int services_ui_send(services_ui_conn *c, const void *msg, size_t size) {
    if (!c || c->broken) {
        errno = EPIPE;
        return -1;
    }
    vorel::ByteReader r(msg, size);
    size_t len = size_t{r.be16(kMsgLenOffset)} * 4;
    if (!r.ok() || len < kMsgHeaderSize || len > size) {
        errno = EINVAL;
        return -1;
    }
    if (!vorel::write_full(c->fd, msg, len)) {
        // Part of the request may be out: the channel cannot be trusted.
        c->last_error = errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
        c->broken = true;
        errno = c->last_error;
        return -1;
    }
    c->outstanding++;
    c->other_type = 0;
    return 0;
}

services_ui_reply services_ui_receive(services_ui_conn *c, uint16_t type, uint16_t /*version*/) {
    if (!c)
        return {};
    Frame f = next_of(c, SERVICES_UI_FRAME_REPLY, 0, type);
    services_ui_reply r;
    if (f.data) {
        r.data = f.data;
        r.size = f.size;
    }
    return r;
}

std::unique_ptr<services_ui_part> services_ui_receive_large_obj(services_ui_conn *c, uint16_t type,
                                                                uint16_t /*version*/) {
    if (!c)
        return nullptr;
    Frame f = next_of(c, SERVICES_UI_FRAME_PART, SERVICES_UI_FRAME_OBJECT_END, type);
    if (!f.data)
        return nullptr;
    auto part = std::make_unique<services_ui_part>();
    part->bytes.assign(f.data, f.data + f.size);
    return part;
}

void services_ui_close(services_ui_conn *c) {
    if (!c)
        return;
    if (c->fd >= 0)
        ::close(c->fd);
    if (c->buf.size() > spare_buffer.size())
        spare_buffer.swap(c->buf);
    delete c;
}

const char *services_ui_peer(const services_ui_conn *c) {
    return c && !c->peer.empty() ? c->peer.c_str() : "the agent";
}

int services_ui_last_error(const services_ui_conn *c) {
    return c ? c->last_error : EBADF;
}

unsigned services_ui_other_type_replies(const services_ui_conn *c) {
    return c ? c->other_type : 0;
}
