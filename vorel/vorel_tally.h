// One number per service set: the counts and drains of the families.
//
// A count (or drain) request is answered by exactly one reply of a fixed
// layout; the query renders its number as the row every family prints in
// text ("%-16s%-52s%u") or as an element holding the PIC, the service set
// and the number in XML.
#pragma once

#include "platform/bytes.h"
#include "platform/services_ui.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_ctx.h"

#include <cstdint>
#include <functional>

// Sends req and reads its one reply: the next of reply_type holding at
// least min_size bytes (a shorter one as on_short says; `who` names the
// PIC in its debug line).  0 when no reply came or after render; -1 when
// the send failed or a second reply of the type came (the answer is not
// what was asked for).  *answered, when given, says whether render ran
// (for the exchanges to which no reply at all is a failure).
int vorel_tally_exchange(services_ui_conn *c, const vorel::ByteWriter &req, uint16_t reply_type,
                         uint16_t version, size_t min_size, const char *who, short_reply on_short,
                         const std::function<void(const vorel::ByteReader &reply)> &render,
                         bool *answered = nullptr);

// The same for a reply read as a fixed record of N bytes.
template <size_t N, typename Render>
int vorel_tally_exchange(services_ui_conn *c, const vorel::ByteWriter &req, uint16_t reply_type,
                         uint16_t version, const char *who, short_reply on_short, Render &&render,
                         bool *answered = nullptr) {
    return vorel_tally_exchange(
        c, req, reply_type, version, N, who, on_short,
        [&](const vorel::ByteReader &reply) {
            vorel::ByteBlock<N> b;
            if (reply.block(0, b))
                render(b);
        },
        answered);
}

// The text row of one service set's number.
void vorel_tally_row(const char *pic_name, const char *svc_set_name, uint32_t count);
// The row, or in XML `element` holding interface-name, service-set-name
// and the number under count_leaf.
void vorel_tally_entry(const vorel_ctx *ctxt, const char *pic_name, const char *svc_set_name,
                       uint32_t count, const char *element, const char *count_leaf);
