// The Services UI library as the fuzz targets see it: every reply comes
// from the fuzz input (fakes.h describes how the input is read).  The
// contract of platform/services_ui.h is kept: a reply buffer stays valid
// until the next receive on its channel, a receive after the answer's end
// gives nothing at once, and sends are checked as the library checks them.
#include "fuzz/fakes.h"
#include "platform/bytes.h"
#include "platform/services_ui.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

vorel::fuzz::Input *g_input = nullptr;
size_t g_open_channels = 0;

constexpr size_t kMsgHeaderSize = 8;
constexpr size_t kMsgLenOffset = 4;

} // namespace

struct services_ui_conn {
    bool sends_fail = false;
    bool answer_open = false; // a request was sent and its answer has not ended
    bool broken = false;
    int last_error = 0;
    std::vector<uint8_t> reply; // the buffer handed out by the last receive
};

namespace vorel::fuzz {

void services_ui_feed(Input *in) {
    g_input = in;
}

size_t services_ui_open_channels() {
    return g_open_channels;
}

} // namespace vorel::fuzz

namespace {

services_ui_conn *open_channel(services_ui_error_cb err, const char *where) {
    uint8_t decision = g_input ? g_input->byte() : 1;
    if (decision & 1) {
        if (err)
            err(1, "services_ui: cannot connect to %s: %s\n", where, std::strerror(ECONNREFUSED));
        errno = ECONNREFUSED;
        return nullptr;
    }
    auto *c = new services_ui_conn;
    c->sends_fail = decision & 2;
    g_open_channels++;
    return c;
}

// The next message of the current answer: false at its end (or at the
// object's end when `object` is set).
bool next_message(services_ui_conn *c, bool object, vorel::ByteReader &msg) {
    c->last_error = 0;
    while (c->answer_open && !c->broken) {
        if (!g_input || !g_input->chunk(msg)) {
            c->broken = true;
            c->last_error = EPIPE;
            return false;
        }
        if (msg.empty()) {
            if (!object)
                c->answer_open = false;
            return false;
        }
        if (msg.size() >= 2)
            return true;
    }
    return false;
}

} // namespace

services_ui_conn *services_ui_open_timeout(unsigned fpc, unsigned pic, uint16_t port,
                                           services_ui_error_cb err, const services_ui_timer *) {
    std::string where = "fpc " + std::to_string(fpc) + " pic " + std::to_string(pic) + " port " +
                        std::to_string(port);
    return open_channel(err, where.c_str());
}

services_ui_conn *services_ui_open(unsigned fpc, unsigned pic, uint16_t port,
                                   services_ui_error_cb err) {
    return services_ui_open_timeout(fpc, pic, port, err, nullptr);
}

services_ui_conn *services_inline_ui_open(unsigned fpc, uint16_t port, services_ui_error_cb err) {
    std::string where = "fpc " + std::to_string(fpc) + " port " + std::to_string(port);
    return open_channel(err, where.c_str());
}

services_ui_conn *services_ui_attach(int fd, const services_ui_timer *) {
    ::close(fd);
    return open_channel(nullptr, "an attached socket");
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
    if (c->sends_fail) {
        c->broken = true;
        c->last_error = EPIPE;
        errno = EPIPE;
        return -1;
    }
    c->answer_open = true;
    return 0;
}

services_ui_reply services_ui_receive(services_ui_conn *c, uint16_t type, uint16_t) {
    vorel::ByteReader msg;
    if (!c || !next_message(c, false, msg))
        return {};
    c->reply.assign(msg.data(), msg.data() + msg.size());
    c->reply[0] = static_cast<uint8_t>(type >> 8);
    c->reply[1] = static_cast<uint8_t>(type);
    return {c->reply.data(), c->reply.size()};
}

std::unique_ptr<services_ui_part> services_ui_receive_large_obj(services_ui_conn *c, uint16_t type,
                                                                uint16_t) {
    vorel::ByteReader msg;
    if (!c || !next_message(c, true, msg))
        return nullptr;
    auto part = std::make_unique<services_ui_part>();
    part->bytes.assign(msg.data(), msg.data() + msg.size());
    part->bytes[0] = static_cast<uint8_t>(type >> 8);
    part->bytes[1] = static_cast<uint8_t>(type);
    return part;
}

void services_ui_close(services_ui_conn *c) {
    if (!c)
        return;
    g_open_channels--;
    delete c;
}

int services_ui_last_error(const services_ui_conn *c) {
    return c ? c->last_error : EBADF;
}

unsigned services_ui_other_type_replies(const services_ui_conn *) {
    return 0;
}

const char *services_ui_peer(const services_ui_conn *) {
    return "the fuzzed agent";
}
