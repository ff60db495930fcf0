// The control socket as the fuzz targets see it: the kernel's and the
// chassis services' answers come from the fuzz input (fakes.h describes
// how), so the real kernel interface library decodes them and the real
// chassis queries read them.  Agent addresses are computed as the real
// client computes them.
#include "fuzz/fakes.h"
#include "platform/lab_link.h"
#include "platform/rtslib_wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <vector>

namespace {

vorel::fuzz::Input *g_input = nullptr;

constexpr uint8_t kLostConnection = 0xff;
constexpr uint8_t kFittedRecord = 0xfe;

// Where the lengths lie in a configuration record and a tunnel group as
// they travel (platform/rtslib_wire.h).
constexpr size_t kGencfgFlags = 4, kGencfgPayloadLength = 16, kGencfgStoredLength = 20;
constexpr size_t kGroupLength = 4, kGroupHeader = 8;

void put_be32(std::vector<uint8_t> &b, size_t at, size_t v) {
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Makes the length fields of a configuration record or a tunnel group fit
// the bytes that follow them, so that the fuzzer may cut or grow a payload
// and still have the library decode it (a compressed payload's own
// length is left as given).
void fit_lengths(uint16_t service, uint16_t op, std::vector<uint8_t> &body) {
    using namespace vorel::lab_link;
    if (service != kKernel)
        return;
    if (op == kGencfgGet && body.size() >= vorel::rtslib_wire::kGencfgHeaderSize) {
        size_t stored = body.size() - vorel::rtslib_wire::kGencfgHeaderSize;
        put_be32(body, kGencfgStoredLength, stored);
        vorel::ByteReader r(body);
        if (!(r.be32(kGencfgFlags) & RTSLIB_GENCFG_F_COMPRESSED))
            put_be32(body, kGencfgPayloadLength, stored);
    } else if (op == kL2tpGroupGet && body.size() >= kGroupHeader) {
        put_be32(body, kGroupLength, body.size() - kGroupHeader);
    }
}
// A connected client holds this instead of a descriptor.
constexpr int kFakeDescriptor = 1000000;

} // namespace

namespace vorel::fuzz {

void control_feed(Input *in) {
    g_input = in;
}

} // namespace vorel::fuzz

namespace vorel::lab_link {

std::string control_socket_path() {
    return "fuzz-input";
}

ControlClient::~ControlClient() {
    close();
}

void ControlClient::close() {
    fd_ = -1;
}

bool ControlClient::connect(const std::string &) {
    close();
    if (!g_input || g_input->at_end()) {
        errno = ECONNREFUSED;
        return false;
    }
    fd_ = kFakeDescriptor;
    return true;
}

bool ControlClient::call(uint16_t service, uint16_t op, const std::vector<uint8_t> &, Answer &out) {
    if (fd_ < 0) {
        errno = ENOTCONN;
        return false;
    }
    ByteReader body;
    uint8_t status = g_input ? g_input->byte() : kLostConnection;
    if (status == kLostConnection || !g_input->chunk(body)) {
        close();
        errno = EPIPE;
        return false;
    }
    out.body.assign(body.data(), body.data() + body.size());
    if (status == kFittedRecord) {
        fit_lengths(service, op, out.body);
        status = 0;
    }
    out.status = status;
    return true;
}

Answer call_once(uint16_t service, uint16_t op, const std::vector<uint8_t> &body) {
    Answer a;
    ControlClient c;
    if (!c.connect() || !c.call(service, op, body, a)) {
        a.status = errno ? errno : EIO;
        a.body.clear();
    }
    return a;
}

} // namespace vorel::lab_link
