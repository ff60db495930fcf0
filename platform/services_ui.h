// The Services UI library: a request/reply channel to the management agent
// of a service PIC (port 6200) or of a line card's inline services (33019).
//
// Transport: one TCP connection per channel to the agent's internal address
// (platform/lab_link.h).  A request goes out as the message itself; its
// length is msg_len 32-bit words from its header.  The agent answers each
// request with frames:
//
//   u8 kind, u8 reserved[3], u32 length (big-endian), then length bytes
//   kind 1 reply           one reply message
//   kind 2 part            one part of a large object (a message whose
//                          header names the object's type)
//   kind 3 object end      the large object is complete
//   kind 4 answer end      nothing more will come for this request
//
// A reply's true size is the frame length; what the message's own msg_len
// says is never trusted for reading.  The end of an answer is always the
// agent's explicit marker, never a timeout: the timer triple only bounds
// how long a silent or stalled agent is waited for.
//
// Timer triple (connect, send, receive), in seconds:
//   5, 5, 60   connect within 5 s, each send within 5 s, each receive
//              (the next frame) within 60 s;
//   0, 0, 0    the library's own defaults: 10 s, 10 s, 120 s (each zero
//              value selects its own default).
// $VOREL_UI_TIME_UNIT_MS (default 1000) scales the unit for tests of
// stalled agents.
//
// Answers are matched to requests by counting: every send opens an answer
// and every answer end closes one, so frames of an answer that its caller
// stopped reading early are passed over, never taken for the answer to the
// next request.  A receive that must wait for the agent first flushes
// standard output, so that what was printed so far appears while a slow
// PIC is being waited on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct services_ui_conn;

constexpr uint16_t SERVICES_UI_PIC_PORT = 6200;
constexpr uint16_t SERVICES_UI_INLINE_PORT = 33019;

// Frame kinds on the agent's side of the channel.
enum services_ui_frame : uint8_t {
    SERVICES_UI_FRAME_REPLY = 1,
    SERVICES_UI_FRAME_PART = 2,
    SERVICES_UI_FRAME_OBJECT_END = 3,
    SERVICES_UI_FRAME_ANSWER_END = 4,
};
constexpr size_t SERVICES_UI_FRAME_HEADER = 8;
// Largest frame the library accepts; a larger length ends the channel.
constexpr size_t SERVICES_UI_MAX_FRAME = 16u << 20;

struct services_ui_timer {
    uint32_t connect = 0;
    uint32_t send = 0;
    uint32_t receive = 0;
};

// The error callback: called with level 1 and a printf-style message when
// a channel cannot be opened (vorel_xml_error or vorel_fatal_error).
using services_ui_error_cb = int (*)(int level, const char *fmt, ...);

// A reply: the library's buffer, valid until the next receive on the
// channel (or its close).  data is null when there is no (more) reply.
struct services_ui_reply {
    const uint8_t *data = nullptr;
    size_t size = 0;
    explicit operator bool() const { return data != nullptr; }
};

// A large-object part: the caller owns it.
struct services_ui_part {
    std::vector<uint8_t> bytes;
    const uint8_t *data() const { return bytes.data(); }
    size_t size() const { return bytes.size(); }
};

services_ui_conn *services_ui_open_timeout(unsigned fpc, unsigned pic, uint16_t port,
                                           services_ui_error_cb err, const services_ui_timer *t);
services_ui_conn *services_ui_open(unsigned fpc, unsigned pic, uint16_t port,
                                   services_ui_error_cb err);
services_ui_conn *services_inline_ui_open(unsigned fpc, uint16_t port, services_ui_error_cb err);

// Sends one request (header in network order; msg_len words are sent, and
// never more than size bytes: a msg_len that claims more than size bytes,
// or less than the header, is refused with EINVAL).  0, or negative with
// errno set on failure; once the channel is closed or broken every send
// fails (EPIPE).
int services_ui_send(services_ui_conn *c, const void *msg, size_t size);

// The next reply of type `type` to the latest request; replies of other
// types, parts and object ends are passed over.  Null at the answer's end
// (at once when the answer has already ended), after a timeout, or when
// the channel closed or broke (services_ui_last_error tells which).  The
// version is not checked: the agent chose its reply by the request's.
services_ui_reply services_ui_receive(services_ui_conn *c, uint16_t type, uint16_t version);

// The next part of a large object of type `type` (parts of other types
// and replies are passed over); null when the object end arrives, or as
// services_ui_receive when the answer ends first.
std::unique_ptr<services_ui_part> services_ui_receive_large_obj(services_ui_conn *c, uint16_t type,
                                                                uint16_t version);

void services_ui_close(services_ui_conn *c);

// A channel over a stream socket already connected to an agent (the open
// calls use it after connecting; tests and the fuzz target hand it one end
// of a socket pair).  The channel owns fd from then on, also on failure
// (null with errno ENOMEM).  The connect value of the timers is not used.
services_ui_conn *services_ui_attach(int fd, const services_ui_timer *t);

// Test and trace support: why the last receive returned nothing
// (0: the agent's end marker; ETIMEDOUT, EPIPE (closed), EPROTO (bad frame)).
int services_ui_last_error(const services_ui_conn *c);
// How many replies to the latest request were passed over for their type.
unsigned services_ui_other_type_replies(const services_ui_conn *c);

// Who the channel talks to, for messages: "fpc F pic P", "fpc F" for a
// line card, "the agent" for a channel attached to a socket handed in.
const char *services_ui_peer(const services_ui_conn *c);
