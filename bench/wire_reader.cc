// The wire's floor: asks a PIC agent for a service set's flow table with
// the very request `vorel -C sfw -S flows` sends (or, with
// --conversations, its conversations as `vorel -C sfw -S conversations`
// asks for them: the same request under another type), receives every
// reply and discards it.  What this costs is what no renderer can avoid.
//
//   wire_reader [--raw] [--conversations] [--fpc F] [--pic P] [--svc-set ID]
//   wire_reader --tcplog PICS
//
// By default the replies are received through the Services UI library, as
// the program receives them; --raw reads the socket directly in 256 KiB
// reads and walks the frame headers, the floor of the floor.  --tcplog N
// asks the first N PICs of bench_scenario's tcplog router (PIC i at FPC
// i / 8, PIC i % 8) in turn for their logging connections, raw, as
// `vorel -C tcplog -S connection` asks them.  The agent is
// found as the program finds it ($VOREL_LAB_NET).  On standard error: how
// many replies and bytes arrived.
#include "platform/bytes.h"
#include "platform/lab_link.h"
#include "platform/services_ui.h"
#include "platform/sockio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint16_t kDumpRequest = 18, kDumpReply = 19, kVersion = 2;
constexpr uint16_t kConvRequest = 22, kConvReply = 23;
constexpr size_t kDumpRequestSize = 108;
constexpr uint16_t kTcplogRequest = 317, kTcplogVersion = 1;
constexpr size_t kTcplogRequestSize = 16;

struct Options {
    bool raw = false;
    bool conversations = false;
    unsigned fpc = 1, pic = 0;
    uint16_t svc_set = 1;
    unsigned tcplog_pics = 0; // asks tcplog's PICs instead
};

struct Tally {
    unsigned long long replies = 0, bytes = 0;
};

// The dump request of a style-B service set with no filter and no limit.
vorel::ByteWriter dump_request(const Options &o) {
    vorel::ByteWriter w(kDumpRequestSize);
    w.be16(0, o.conversations ? kConvRequest : kDumpRequest);
    w.be16(2, kVersion);
    w.be16(4, kDumpRequestSize / 4);
    w.be16(6, o.svc_set);
    w.u8(8, 'B');
    w.be16(20 + 84, 0xffff); // any protocol
    return w;
}

bool receive_through_library(const Options &o, Tally &t) {
    services_ui_conn *c = services_ui_open(o.fpc, o.pic, SERVICES_UI_PIC_PORT, nullptr);
    if (!c)
        return false;
    vorel::ByteWriter req = dump_request(o);
    bool ok = services_ui_send(c, req.data(), req.size()) == 0;
    while (ok && !o.conversations) {
        services_ui_reply r = services_ui_receive(c, kDumpReply, kVersion);
        if (!r)
            break;
        t.replies++;
        t.bytes += r.size;
    }
    // Each conversation is a large-object part, as the program receives it.
    while (ok && o.conversations) {
        std::unique_ptr<services_ui_part> part =
            services_ui_receive_large_obj(c, kConvReply, kVersion);
        if (!part)
            break;
        t.replies++;
        t.bytes += part->size();
    }
    ok = ok && services_ui_last_error(c) == 0;
    services_ui_close(c);
    return ok;
}

// Walks the frames in buf[0, len); returns how many bytes were consumed
// (whole frames only) and sets `ended` at the answer end.
size_t walk_frames(const uint8_t *buf, size_t len, Tally &t, bool &ended) {
    size_t at = 0;
    while (len - at >= SERVICES_UI_FRAME_HEADER) {
        vorel::ByteReader hdr(buf + at, SERVICES_UI_FRAME_HEADER);
        size_t frame = SERVICES_UI_FRAME_HEADER + hdr.be32(4);
        if (len - at < frame)
            break;
        if (hdr.u8(0) == SERVICES_UI_FRAME_ANSWER_END) {
            ended = true;
            return at + frame;
        }
        t.replies++;
        t.bytes += frame - SERVICES_UI_FRAME_HEADER;
        at += frame;
    }
    return at;
}

vorel::ByteWriter tcplog_request() {
    vorel::ByteWriter w(kTcplogRequestSize);
    w.be16(0, kTcplogRequest);
    w.be16(2, kTcplogVersion);
    w.be16(4, kTcplogRequestSize / 4);
    return w;
}

// Sends the request to PIC fpc/pic and reads its answer to the end.
bool exchange_raw(unsigned fpc, unsigned pic, const vorel::ByteWriter &req, Tally &t) {
    in_addr addr{};
    if (!vorel::lab_link::pic_agent_address(fpc, pic, addr))
        return false;
    int fd = vorel::tcp_connect(addr, SERVICES_UI_PIC_PORT, 10000);
    if (fd < 0)
        return false;
    if (!vorel::write_full(fd, req.data(), req.size())) {
        close(fd);
        return false;
    }
    std::vector<uint8_t> buf(256 * 1024);
    size_t held = 0;
    bool ended = false;
    while (!ended) {
        if (held == buf.size())
            buf.resize(buf.size() * 2); // a frame larger than the buffer
        ssize_t n = recv(fd, buf.data() + held, buf.size() - held, 0);
        if (n <= 0)
            break;
        held += static_cast<size_t>(n);
        size_t used = walk_frames(buf.data(), held, t, ended);
        std::memmove(buf.data(), buf.data() + used, held - used);
        held -= used;
    }
    close(fd);
    return ended;
}

bool receive_raw(const Options &o, Tally &t) {
    if (o.tcplog_pics == 0)
        return exchange_raw(o.fpc, o.pic, dump_request(o), t);
    vorel::ByteWriter req = tcplog_request();
    for (unsigned i = 0; i < o.tcplog_pics; i++)
        if (!exchange_raw(i / 8, i % 8, req, t))
            return false;
    return true;
}

bool parse(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--raw") {
            o.raw = true;
            continue;
        }
        if (a == "--conversations") {
            o.conversations = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        unsigned long v = std::strtoul(argv[++i], nullptr, 10);
        if (a == "--fpc" && v <= 255)
            o.fpc = static_cast<unsigned>(v);
        else if (a == "--pic" && v <= 7)
            o.pic = static_cast<unsigned>(v);
        else if (a == "--svc-set" && v <= 65535)
            o.svc_set = static_cast<uint16_t>(v);
        else if (a == "--tcplog" && v >= 1 && v <= 64) {
            o.tcplog_pics = static_cast<unsigned>(v);
            o.raw = true;
        } else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: wire_reader [--raw] [--conversations] [--fpc F] [--pic P] "
                             "[--svc-set ID]\n       wire_reader --tcplog PICS\n");
        return 2;
    }
    Tally t;
    bool ok = o.raw ? receive_raw(o, t) : receive_through_library(o, t);
    std::fprintf(stderr, "wire_reader: %llu replies, %llu bytes%s\n", t.replies, t.bytes,
                 ok ? "" : " (the answer did not end)");
    return ok ? 0 : 1;
}
