// Flows of the session engine: the flow table, the flow count and the flow
// drain; the flow renderer the session list and the softwire commands share.
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_flow_entry.h"
#include "vorel/vorel_tally.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr uint16_t kFlowDumpRequest = 118;
constexpr uint16_t kFlowEntryReply = 119;
constexpr uint16_t kFlowCountRequest = 116;
constexpr uint16_t kFlowCountReply = 117;
constexpr uint16_t kDrainReply = 115;
constexpr size_t kFlowDumpSize = 108;
constexpr size_t kCountOffset = 16;
constexpr size_t kCountReplySize = kCountOffset + 4;
// A flow entry: the reply's head, then the flow record.
constexpr size_t kFlowEntrySize = MSP_RECORD_OFFSET + MSP_FLOW_RECORD_LEN;

constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIcmpv6 = 58;
constexpr uint16_t kFlagWildcardPort = 1u << 1;

constexpr size_t kPortTextLen = 8; // a port's digits

constexpr const char *kFlowColumns =
    "Flow                                                State    Dir       Frm count";

vorel::ByteWriter flow_dump_request(const msp_svc_set_ref &set, const msp_action_params &p) {
    vorel::ByteWriter w = vorel_request(kFlowDumpRequest, 2, kFlowDumpSize, set.id);
    w.u8(8, set.style);
    w.be32(16, p.limit);
    msp_filter_write(w, 20, p);
    return w;
}

int msp_flow_dump_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                        msp_action_params *p) {
    vorel_trace("flow dump query \n");
    if (!conn) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    msp_svc_set_ref set = msp_svc_set_of(ss);
    if (vorel_send(conn, flow_dump_request(set, *p)) < 0)
        return -1;
    char shown[AMS_CONCAT_NAME_LEN];
    vorel_svc_set_section section(
        ctxt, "sfw-per-service-set-flow-table",
        ctxt->xml ? find_and_concat_pifd_name(asp->name, shown) : asp->name, set.name, "\n");
    // The heading comes with the first flow.
    vorel_section table(ctxt, "service-sfw-flow-table", {xml_attribute("heading", kFlowColumns)});
    table.on_text_open([] { std::printf("%s\n\n", kFlowColumns); });
    msp_flow flow;
    while (msp_flow_receive(conn, *asp, &flow)) {
        if (section.open())
            table.open();
        msp_flow_print(&flow, p->extensive, ctxt->xml);
    }
    return 0;
}

constexpr vorel_enclosing kFlowDumpEnclosing{"vorel: flow dump start \n",
                                             "service-sfw-flow-table-information", nullptr,
                                             "vorel: flow dump done \n"};

// ---- Count ----

// One number per service set, in a reply of kCountReplySize bytes.
int count_exchange(vorel_ctx *ctxt, services_ui_conn *conn, const asp_info &asp,
                   const msp_svc_set_ref &set, const vorel::ByteWriter &req, uint16_t reply,
                   uint16_t version, const char *element, const char *count_leaf) {
    if (!conn)
        return -1;
    return vorel_tally_exchange<kCountReplySize>(
        conn, req, reply, version, asp.name, short_reply::end_answer,
        [&](const vorel::ByteBlock<kCountReplySize> &b) {
            vorel_tally_entry(ctxt, asp.name, set.name, b.be32<kCountOffset>(), element,
                              count_leaf);
        });
}

int msp_flow_count_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return count_exchange(ctxt, conn, *asp, set, msp_count_request(kFlowCountRequest, set, *p),
                          kFlowCountReply, 2, "service-sfw-flow-count", "flow-count");
}

constexpr vorel_enclosing kFlowCountEnclosing{
    "vorel: flow count open \n", "service-sfw-flow-count-information",
    "PIC             Service set                                         Flow Count\n\n",
    "vorel: flow count done \n"};

// ---- Drain ----

int msp_flow_drain_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return count_exchange(ctxt, conn, *asp, set, msp_drain_request(set, *p, 0), kDrainReply, 1,
                          "service-msp-flow-drain", "flows-removed");
}

constexpr vorel_enclosing kFlowDrainEnclosing{
    "vorel: flow drain start \n", "service-msp-flow-drain-information",
    "PIC             Service set                                        Flow Removed\n\n",
    "vorel: flow drain done \n"};

// ---- Rendering ----

bool is_icmp(uint8_t proto) {
    return proto == kProtoIcmp || proto == kProtoIcmpv6;
}

// As "%u" prints it, or "*"; by std::to_chars: every flow has two ports,
// and snprintf cost more than the rest of the flow's text.
std::string_view port_text(uint16_t port, uint16_t flow_flags, char (&out)[kPortTextLen]) {
    if (port == 0 && (flow_flags & kFlagWildcardPort))
        return "*";
    char *end = std::to_chars(out, out + kPortTextLen, port).ptr;
    return {out, static_cast<size_t>(end - out)};
}

} // namespace

const msp_cmd_handlers msp_flow_dump_handlers =
    msp_handlers<kFlowDumpEnclosing>(msp_flow_dump_query);
const msp_cmd_handlers msp_flow_count_handlers =
    msp_handlers<kFlowCountEnclosing>(msp_flow_count_query);
const msp_cmd_handlers msp_flow_drain_handlers =
    msp_handlers<kFlowDrainEnclosing>(msp_flow_drain_query);

bool msp_flow_read(const vorel::ByteReader &r, size_t off, msp_flow *out) {
    return vorel_record_read(r, off, out, msp_flow_decode);
}

msp_flow msp_flow_decode(const vorel::ByteBlock<MSP_FLOW_RECORD_LEN> &b) {
    msp_flow f;
    f.src = vorel_addr_decode<0>(b);
    f.dst = vorel_addr_decode<20>(b);
    f.src_port = b.be16<40>();
    f.dst_port = b.be16<42>();
    f.direction = b.u8<45>();
    f.state = b.u8<46>();
    f.proto = b.u8<47>();
    f.timeout = b.be32<48>();
    f.frames = b.be32<52>();
    f.bytes = b.be32<56>();
    f.tcp_established = b.u8<60>();
    f.tcp_tickle = b.u8<61>();
    f.tcp_tickle_value = b.u8<62>();
    f.role = b.u8<63>();
    f.flow_flags = b.be16<64>();
    f.tcp_window = b.be16<66>();
    f.tcp_ack = b.be32<68>();
    f.sw = msp_sw_info_decode(b.block<72, MSP_SW_INFO_LEN>());
    f.ds_lite = b.u8<113>();
    return f;
}

bool msp_flow_receive(services_ui_conn *conn, const asp_info &asp, msp_flow *out) {
    vorel::ByteBlock<kFlowEntrySize> entry;
    if (!vorel_receive_block(conn, kFlowEntryReply, 2, asp.name, short_reply::end_answer, &entry))
        return false;
    *out = msp_flow_decode(entry.block<MSP_RECORD_OFFSET, MSP_FLOW_RECORD_LEN>());
    return true;
}

void msp_flow_print(const msp_flow *flow, int extensive, int xml) {
    if (!flow)
        return;
    const msp_flow &f = *flow;
    char sport_buf[kPortTextLen], dport_buf[kPortTextLen];
    std::string_view sport, dport;
    if (!is_icmp(f.proto)) {
        sport = port_text(f.src_port, f.flow_flags, sport_buf);
        dport = port_text(f.dst_port, f.flow_flags, dport_buf);
    }
    // Both addresses take the family of the source; IPv6 is shown in full.
    char src[VOREL_ADDR_TEXT], dst[VOREL_ADDR_TEXT];
    std::string_view src_text = vorel_addr_text(f.src, f.src.is_v6, src);
    std::string_view dst_text = vorel_addr_text(f.dst, f.src.is_v6, dst);

    vorel_flow_entry e =
        vorel_flow_entry_of(f, src_text, sport, dst_text, dport, f.tcp_tickle_value);
    if (f.ds_lite == 1)
        e.tunnel = "DS-LITE";
    std::optional<msp_sw_texts> sw;
    if (f.sw.present) {
        sw.emplace(f.sw);
        e.softwire_from = sw->local_text;
        e.softwire_to = sw->remote_text;
    }
    vorel_flow_entry_print(e, extensive != 0, vorel_flow_style_msp, xml != 0);
}
