#include "platform/lab_link.h"

#include "platform/bytes.h"
#include "platform/sockio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace vorel::lab_link {

namespace {
constexpr unsigned kCallTimeoutMs = 10000;
}

std::string control_socket_path() {
    const char *p = std::getenv("VOREL_LAB_SOCKET");
    return p && *p ? p : kDefaultSocket;
}

ControlClient::~ControlClient() {
    close();
}

void ControlClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool ControlClient::connect(const std::string &path) {
    close();
    fd_ = unix_connect(path);
    if (fd_ < 0)
        return false;
    in_.attach(fd_);
    set_socket_timeouts(fd_, kCallTimeoutMs, kCallTimeoutMs);
    return true;
}

bool ControlClient::call(uint16_t service, uint16_t op, const std::vector<uint8_t> &body,
                         Answer &out) {
    if (fd_ < 0) {
        errno = ENOTCONN;
        return false;
    }
    ByteAppender req;
    req.be16(service);
    req.be16(op);
    req.bytes(body.data(), body.size());
    if (!write_frame(fd_, req.buffer().data(), req.size()) || !read_answer(out)) {
        int e = errno ? errno : EPROTO;
        close();
        errno = e;
        return false;
    }
    return true;
}

// The answer frame: u32 length, i32 status, then the body, read into
// out.body (a caller that keeps its Answer keeps its room: a walk of the
// kernel's records receives hundreds of kilobytes per exchange).
bool ControlClient::read_answer(Answer &out) {
    uint8_t hdr[8];
    if (in_.read_full(hdr, sizeof hdr) != static_cast<ssize_t>(sizeof hdr))
        return false;
    ByteReader r(hdr, sizeof hdr);
    size_t len = r.be32(0);
    if (len < 4 || len > kMaxFrame) {
        errno = len < 4 ? EPROTO : EMSGSIZE;
        return false;
    }
    out.status = r.sbe32(4);
    out.body.resize(len - 4);
    if (out.body.empty())
        return true;
    ssize_t want = static_cast<ssize_t>(out.body.size());
    return in_.read_full(out.body.data(), out.body.size()) == want;
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
