// The peer connections to PIC daemons as the fuzz targets see them: the
// daemons' messages come from the fuzz input (fakes.h describes how), so
// no fuzz run ever reaches a socket of a lab that happens to be running.
#include "fuzz/fakes.h"
#include "platform/pconn.h"

#include <cerrno>

struct pconn_client {
    bool sends_fail = false;
    bool usable = true;
};

namespace {

vorel::fuzz::Input *g_input = nullptr;
size_t g_open = 0;

constexpr uint8_t kConnectFails = 1;
constexpr uint8_t kSendsFail = 2;

} // namespace

namespace vorel::fuzz {

void pconn_feed(Input *in) {
    g_input = in;
}

size_t pconn_open_connections() {
    return g_open;
}

} // namespace vorel::fuzz

pconn_client *pconn_client_connect(unsigned, unsigned, uint16_t) {
    if (!g_input || g_input->at_end()) {
        errno = ECONNREFUSED;
        return nullptr;
    }
    uint8_t how = g_input->byte();
    if (how & kConnectFails) {
        errno = ECONNREFUSED;
        return nullptr;
    }
    g_open++;
    return new pconn_client{(how & kSendsFail) != 0, true};
}

int pconn_client_send(pconn_client *c, uint16_t, const void *body, size_t len) {
    if (!c || !c->usable || (len && !body) || len > PCONN_MAX_BODY) {
        errno = EINVAL;
        return -1;
    }
    if (c->sends_fail) {
        errno = EPIPE;
        return -1;
    }
    return 0;
}

int pconn_client_recv(pconn_client *c, pconn_msg &msg, unsigned) {
    if (!c || !c->usable) {
        errno = c ? ENOTCONN : EINVAL;
        return -1;
    }
    vorel::ByteReader r;
    if (!g_input || !g_input->chunk(r) || r.size() < 2) {
        // Silence, or a frame cut short: the connection is dropped.
        c->usable = false;
        errno = ETIMEDOUT;
        return -1;
    }
    msg.type = r.be16(0);
    msg.body.assign(r.data() + 2, r.data() + r.size());
    return 0;
}

void pconn_client_close(pconn_client *c) {
    if (!c)
        return;
    g_open--;
    delete c;
}
