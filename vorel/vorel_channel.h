// The program's side of the Services UI channel: the timer triple chosen
// per PIC, the open call every driver uses, an owning handle that closes a
// channel exactly once, and the message header.
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"

#include <cstdint>
#include <vector>

// The header that begins every request and reply: four 16-bit fields in
// network order.
constexpr size_t SERVICES_UI_MSG_HDR_LEN = 8;
struct services_ui_msg_hdr {
    uint16_t msg_type = 0;
    uint16_t msg_version = 0;
    uint16_t msg_len = 0; // 32-bit words, header included
    uint16_t svc_set_id = 0;
};

// A request of size bytes (a multiple of 4) with its header stored; the
// body is zero until the caller sets its fields.
vorel::ByteWriter vorel_request(uint16_t type, uint16_t version, size_t size,
                                uint16_t svc_set_id = 0);
// The header of a received message (zeroes when it is shorter than 8).
services_ui_msg_hdr vorel_reply_header(const vorel::ByteReader &r);

// The timer triple for a PIC: 5,5,60 unless the kernel's PIC record says
// the PIC answers at its own pace (0,0,0: the library's defaults).
services_ui_timer vorel_ipc_timer(unsigned fpc, unsigned pic);

services_ui_conn *vorel_services_ui_open(unsigned fpc, unsigned pic, uint16_t port,
                                         services_ui_error_cb err);

// The PIC's name for the line that says a request got no usable reply
// (the walk gives it when it opens the channel).
void vorel_channel_names(const services_ui_conn *c, const char *pic_name);
// Drops what is kept of the channel (it is closing).
void vorel_channel_forget(const services_ui_conn *c);

// Owns one open channel and closes it exactly once.
class pic_channel {
  public:
    pic_channel() = default;
    explicit pic_channel(services_ui_conn *c) : c_(c) {}
    ~pic_channel() { close(); }
    pic_channel(const pic_channel &) = delete;
    pic_channel &operator=(const pic_channel &) = delete;
    pic_channel(pic_channel &&o) noexcept : c_(o.c_) { o.c_ = nullptr; }
    pic_channel &operator=(pic_channel &&o) noexcept {
        if (this != &o) {
            close();
            c_ = o.c_;
            o.c_ = nullptr;
        }
        return *this;
    }
    services_ui_conn *get() const { return c_; }
    explicit operator bool() const { return c_ != nullptr; }
    void close() {
        if (c_) {
            vorel_channel_forget(c_);
            services_ui_close(c_);
        }
        c_ = nullptr;
    }

  private:
    services_ui_conn *c_ = nullptr;
};

// Sends a request built with vorel_request; negative on failure, which
// is said once on standard error ("cannot send request TYPE to fpc F pic
// P: REASON").
int vorel_send(services_ui_conn *c, const vorel::ByteWriter &req);
// The next reply of that type as a bounded reader (empty when none).
vorel::ByteReader vorel_receive(services_ui_conn *c, uint16_t type, uint16_t version);

// When the latest request on c got no usable reply (none in time, a
// closed channel, replies too short or of another type), one line on
// standard error says so, once per PIC and request type; standard output
// is left to the caller.  The receive calls below say it themselves, and
// an answer that ends without replies is an empty table.  A query that
// needs its answer whole (a table with its closing entry, one statistics
// reply) calls it with answer_required when the answer falls short: then
// an answer ended early is said too, even after usable replies.
void vorel_note_unanswered(services_ui_conn *c, const char *who, bool answer_required = false);

// What a reply shorter than its record does: it is passed over and the
// next one of the type is read (skip), or it ends the answer as if nothing
// had come (end_answer).  Either way a debug line says so.
enum class short_reply { skip, end_answer };

// The next reply of that type holding at least min_size bytes, as a
// bounded reader; empty at the end of the answer.  `who` names the PIC in
// the debug line of a short reply.
// *came_short (when given) says whether a short reply ended the answer.
vorel::ByteReader vorel_receive_at_least(services_ui_conn *c, uint16_t type, uint16_t version,
                                         size_t min_size, const char *who, short_reply on_short,
                                         bool *came_short = nullptr);

// The same for a fixed-layout reply: its first N bytes as a checked block
// (and the whole reply in *whole when the caller reads a table after the
// fixed part).  False at the end of the answer.
template <size_t N>
bool vorel_receive_block(services_ui_conn *c, uint16_t type, uint16_t version, const char *who,
                         short_reply on_short, vorel::ByteBlock<N> *out,
                         vorel::ByteReader *whole = nullptr) {
    vorel::ByteReader r = vorel_receive_at_least(c, type, version, N, who, on_short);
    if (r.empty() || !r.block(0, *out))
        return false;
    if (whole)
        *whole = r;
    return true;
}
