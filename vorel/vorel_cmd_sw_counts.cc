// Softwire counts per service set: flows through softwires, softwire
// tunnels by kind (DS-Lite and 6rd), and sessions of the softwire plug-in.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_sw.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

constexpr uint16_t kFlowCountRequest = 40;
constexpr uint16_t kFlowCountReply = 41;
constexpr uint16_t kTunnelCountRequest = 42;
constexpr uint16_t kTunnelCountReply = 43;
constexpr uint16_t kSessCountRequest = 52;
constexpr uint16_t kSessCountReply = 53;
constexpr size_t kPrefixCountSize = 104; // 26 words
constexpr size_t kSessCountSize = 96;    // 24 words

// Every count reply: the total at 16, the DS-Lite count at 20, the 6rd
// count at 24.
constexpr size_t kCountReplyLen = 28;
using count_reply = vorel::ByteBlock<kCountReplyLen>;

using count_render_fn = void (*)(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                                 const count_reply &reply);

// Sends a count request and renders its one reply.  0 (nothing shown when
// no reply came), or -1 when the send failed or a second reply came.
int count_exchange(const vorel_ctx *ctxt, services_ui_conn *c, const asp_info &asp,
                   const svc_set_info &ss, const vorel::ByteWriter &req, uint16_t reply_type,
                   count_render_fn render) {
    if (!c) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    if (vorel_send(c, req) < 0)
        return -1;
    count_reply reply;
    if (!vorel_receive_block(c, reply_type, 1, asp.name, short_reply::end_answer, &reply))
        return 0;
    render(ctxt, asp, ss, reply);
    // One reply answers a count; a second means the answer is not the one asked for.
    if (!vorel_receive(c, reply_type, 1).empty())
        return -1;
    return 0;
}

void count_leading_leaves(const asp_info &asp, const svc_set_info &ss) {
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("service-set-name", "%s", ss.name);
}

// One count of a service set: the text row, or the element with the PIC,
// the service set and the count.
void one_count(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
               const char *element, const char *leaf, uint32_t count) {
    if (!ctxt->xml) {
        vorel_printf("%-16s%-52s%u\n", asp.name, ss.name, count);
        return;
    }
    xml_send_open(element);
    count_leading_leaves(asp, ss);
    xml_send_all(leaf, "%u", count);
    xml_send_close(element);
}

vorel::ByteWriter prefix_count_request(uint16_t type, const svc_set_info &ss,
                                       const softwire_params &p) {
    vorel::ByteWriter w = sw_request(type, 1, kPrefixCountSize, &ss);
    sw_prefix_block_write(w, 20, p);
    return w;
}

void render_flow_count(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                       const count_reply &r) {
    one_count(ctxt, asp, ss, "service-softwire-count", "softwire-count", r.be32<16>());
}

void render_tunnel_count(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                         const count_reply &r) {
    uint32_t dslite = r.be32<20>(), v6rd = r.be32<24>();
    if (!ctxt->xml) {
        // The two counts are columns of their own.
        vorel_printf("%-16s%-52s%u %u\n", asp.name, ss.name, dslite, v6rd);
        return;
    }
    xml_send_open("service-current-softwire-count");
    count_leading_leaves(asp, ss);
    xml_send_all("ds-lite-softwire-count", "%u", dslite);
    xml_send_all("v6rd-softwire-count", "%u", v6rd);
    xml_send_close("service-current-softwire-count");
}

void render_sess_count(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                       const count_reply &r) {
    one_count(ctxt, asp, ss, "service-msp-sess-count", "sess-count", r.be32<16>());
}

} // namespace

int softwire_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                         softwire_params *p) {
    if (!sw_query_args_ok(ctxt, asp, ss, p))
        return -1;
    if (sw_name_begins(asp->name, "ms")) {
        sw_refuse_pic(ctxt, "service-softwire-count", *asp);
        return 0;
    }
    return count_exchange(ctxt, c, *asp, *ss, prefix_count_request(kFlowCountRequest, *ss, *p),
                          kFlowCountReply, render_flow_count);
}

int softwire_tunnel_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                svc_set_info *ss, softwire_params *p) {
    if (!sw_query_args_ok(ctxt, asp, ss, p))
        return -1;
    return count_exchange(ctxt, c, *asp, *ss, prefix_count_request(kTunnelCountRequest, *ss, *p),
                          kTunnelCountReply, render_tunnel_count);
}

int softwire_sessions_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                                  svc_set_info *ss, softwire_params *p) {
    if (!sw_query_args_ok(ctxt, asp, ss, p))
        return -1;
    vorel::ByteWriter req = sw_request(kSessCountRequest, 1, kSessCountSize, ss);
    sw_addr_write(req, 16, p->b_addr);
    sw_addr_write(req, 36, p->smask);
    sw_addr_write(req, 56, p->g_addr);
    sw_addr_write(req, 76, p->dmask);
    return count_exchange(ctxt, c, *asp, *ss, req, kSessCountReply, render_sess_count);
}

int softwire_count_open(vorel_ctx *ctxt, softwire_params *) {
    vorel_open_enclosing(
        ctxt, "vorel: flow count open \n", "service-softwire-count-information",
        "PIC             Service set                                         Flow Count\n\n");
    return 0;
}

int softwire_count_close(vorel_ctx *ctxt, softwire_params *) {
    vorel_close_enclosing(ctxt, "vorel: flow count done \n", nullptr);
    return 0;
}

int softwire_tunnel_count_open(vorel_ctx *ctxt, softwire_params *) {
    vorel_open_enclosing(ctxt, "vorel: softwire tunnel count open \n",
                         "service-current-softwire-count-information",
                         "Interface   Service set                    DS-Lite             6RD\n\n");
    return 0;
}

int softwire_tunnel_count_close(vorel_ctx *ctxt, softwire_params *) {
    vorel_close_enclosing(ctxt, "vorel: softwire tunnel count done \n", nullptr);
    return 0;
}

int softwire_sessions_count_open(vorel_ctx *ctxt, softwire_params *) {
    vorel_open_enclosing(
        ctxt, "vorel: session count open \n", "service-msp-sess-count-information",
        "PIC             Service set                                         Session Count\n\n");
    return 0;
}

int softwire_sessions_count_close(vorel_ctx *ctxt, softwire_params *) {
    vorel_close_enclosing(ctxt, "vorel: session count done \n", nullptr);
    return 0;
}
