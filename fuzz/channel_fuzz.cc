// fuzz-options: -max_len=65536
// The Services UI channel's framing of incoming messages: the real library
// (platform/services_ui.cc) reads an agent's byte stream from one end of a
// socket pair while the input's script sends requests and receives replies
// and large-object parts.
//
// Input: byte 0 gives the number of steps (1..16), then one byte per step:
//   bits 0-1  0 send a request, 1 receive a reply, 2 receive a large-object
//             part, 3 send a request whose msg_len claims more than it holds
//   bits 2-3  the message type asked for or sent: 318, 317, 0 or 65535
// and the rest is everything the agent sends, after which it closes.
//
// Checked besides the sanitizers: every reply and part handed out is at
// least a message type long and of the type asked for, and every byte of
// it can be read.
#include "platform/bytes.h"
#include "platform/services_ui.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint16_t kTypes[] = {318, 317, 0, 65535};
constexpr size_t kMaxSteps = 16;

[[noreturn]] void fail(const char *what, uint16_t type, size_t size) {
    std::fprintf(stderr, "fuzz: %s (type %u asked, %zu bytes)\n", what, type, size);
    std::abort();
}

// Reads every byte of a message handed out and checks its type.
void check_message(const uint8_t *data, size_t size, uint16_t type) {
    vorel::ByteReader r(data, size);
    if (size < 2 || r.be16(0) != type)
        fail("a message of another type was handed out", type, size);
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < size; i++)
        sum = static_cast<uint8_t>(sum + data[i]);
}

bool write_all(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

void send_request(services_ui_conn *c, uint16_t type, bool lying) {
    vorel::ByteWriter w(16);
    w.be16(0, type);
    w.be16(2, 1);
    w.be16(4, lying ? 5 : 4); // 32-bit words: 5 claims 20 bytes of a 16-byte buffer
    services_ui_send(c, w.data(), w.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    setenv("VOREL_UI_TIME_UNIT_MS", "10", 1);
    size_t steps = data[0] % kMaxSteps + 1;
    if (size < 1 + steps)
        return 0;
    const uint8_t *script = data + 1;
    const uint8_t *stream = script + steps;
    size_t stream_size = size - 1 - steps;

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        std::abort();
    int room = 1 << 20;
    ::setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    ::setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (!write_all(sv[1], stream, stream_size))
        std::abort();
    ::shutdown(sv[1], SHUT_WR);

    services_ui_timer timers{1, 1, 1};
    services_ui_conn *c = services_ui_attach(sv[0], &timers);
    if (!c)
        std::abort();
    for (size_t i = 0; i < steps; i++) {
        uint8_t op = script[i];
        uint16_t type = kTypes[(op >> 2) & 3];
        switch (op & 3) {
        case 0:
        case 3:
            send_request(c, type, (op & 3) == 3);
            break;
        case 1:
            if (services_ui_reply r = services_ui_receive(c, type, 1))
                check_message(r.data, r.size, type);
            break;
        case 2:
            if (auto part = services_ui_receive_large_obj(c, type, 1))
                check_message(part->data(), part->size(), type);
            break;
        }
        services_ui_last_error(c);
    }
    services_ui_close(c);
    ::close(sv[1]);
    return 0;
}
