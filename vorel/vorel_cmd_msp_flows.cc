// Flows of the session engine: the flow table, the flow count and the flow
// drain; the flow renderer the session list and the softwire commands share.
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_error.h"

#include <cstdio>

namespace {

constexpr uint16_t kFlowDumpRequest = 118;
constexpr uint16_t kFlowEntryReply = 119;
constexpr uint16_t kFlowCountRequest = 116;
constexpr uint16_t kFlowCountReply = 117;
constexpr uint16_t kDrainReply = 115;
constexpr size_t kFlowDumpSize = 108;
constexpr size_t kCountOffset = 16;

constexpr uint8_t kProtoIcmp = 1;
constexpr uint8_t kProtoIcmpv6 = 58;
constexpr uint16_t kFlagWildcardPort = 1u << 1;

constexpr size_t kPortTextLen = 8; // at most 7 characters
constexpr size_t kAddrTextLen = 80;

constexpr const char *kFlowColumns =
    "Flow                                                State    Dir       Frm count";

vorel::ByteWriter flow_dump_request(const msp_svc_set_ref &set, const msp_action_params &p) {
    vorel::ByteWriter w = vorel_request(kFlowDumpRequest, 2, kFlowDumpSize, set.id);
    w.u8(8, set.style);
    w.be32(16, p.limit);
    msp_filter_write(w, 20, p);
    return w;
}

void flow_table_heading(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name) {
    if (!ctxt->xml) {
        std::printf("PIC: %s, Service set: %s \n\n", asp.name, svc_set_name);
        std::printf("%s\n\n", kFlowColumns);
        return;
    }
    char concat[AMS_CONCAT_NAME_LEN];
    xml_send_open("sfw-per-service-set-flow-table");
    xml_send_all("interface-name", "%s", find_and_concat_pifd_name(asp.name, concat));
    xml_send_all("service-set-name", "%s", svc_set_name);
    xml_send_open("service-sfw-flow-table", {xml_attribute("heading", kFlowColumns)});
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
    bool table_open = false;
    for (;;) {
        vorel::ByteReader r = vorel_receive(conn, kFlowEntryReply, 2);
        if (r.empty())
            break;
        msp_flow flow;
        if (!msp_flow_read(r, MSP_RECORD_OFFSET, &flow)) {
            vorel_trace("vorel: %s: flow entry is %zu bytes, too short; ignored\n", asp->name,
                        r.size());
            break;
        }
        if (!table_open) {
            flow_table_heading(ctxt, *asp, set.name);
            table_open = true;
        }
        msp_flow_print(&flow, p->extensive, ctxt->xml);
    }
    if (table_open)
        xml_send_close("sfw-per-service-set-flow-table");
    return 0;
}

int msp_flow_dump_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: flow dump start \n", "service-sfw-flow-table-information",
                         nullptr);
    return 0;
}

int msp_flow_dump_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: flow dump done \n", nullptr);
    return 0;
}

// ---- Count ----

void render_flow_count(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                       const vorel::ByteReader &r) {
    msp_count_entry(ctxt, asp, svc_set_name, r.be32(kCountOffset), "service-sfw-flow-count",
                    "flow-count");
}

int msp_flow_count_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return msp_count_exchange(ctxt, conn, *asp, set.name,
                              msp_count_request(kFlowCountRequest, set, *p), kFlowCountReply, 2,
                              kCountOffset + 4, render_flow_count);
}

int msp_flow_count_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(
        ctxt, "vorel: flow count open \n", "service-sfw-flow-count-information",
        "PIC             Service set                                         Flow Count\n\n");
    return 0;
}

int msp_flow_count_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: flow count done \n", nullptr);
    return 0;
}

// ---- Drain ----

void render_flow_drain(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name,
                       const vorel::ByteReader &r) {
    msp_count_entry(ctxt, asp, svc_set_name, r.be32(kCountOffset), "service-msp-flow-drain",
                    "flows-removed");
}

int msp_flow_drain_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *ss,
                         msp_action_params *p) {
    msp_svc_set_ref set = msp_svc_set_of(ss);
    return msp_count_exchange(ctxt, conn, *asp, set.name, msp_drain_request(set, *p, 0),
                              kDrainReply, 1, kCountOffset + 4, render_flow_drain);
}

int msp_flow_drain_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(
        ctxt, "vorel: flow drain start \n", "service-msp-flow-drain-information",
        "PIC             Service set                                        Flow Removed\n\n");
    return 0;
}

int msp_flow_drain_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: flow drain done \n", nullptr);
    return 0;
}

// ---- Rendering ----

bool is_icmp(uint8_t proto) {
    return proto == kProtoIcmp || proto == kProtoIcmpv6;
}

void port_text(uint16_t port, uint16_t flow_flags, char (&out)[kPortTextLen]) {
    if (port == 0 && (flow_flags & kFlagWildcardPort))
        std::snprintf(out, sizeof out, "*");
    else
        std::snprintf(out, sizeof out, "%u", port);
}

// Both addresses take the family of the source; IPv6 is shown in full.
void address_texts(const msp_flow &f, char (&src)[kAddrTextLen], char (&dst)[kAddrTextLen]) {
    int family = f.src.is_v6 ? VOREL_FAMILY_INET6 : VOREL_FAMILY_INET;
    int len = f.src.is_v6 ? 128 : 32;
    prefix_value_to_string(family, &f.src, len, src, sizeof src);
    prefix_value_to_string(family, &f.dst, len, dst, sizeof dst);
}

void flow_row_xml(const msp_flow &f, const char *src, const char *sport, const char *dst,
                  const char *dport) {
    if (f.ds_lite == 1) {
        xml_send_all("sfw-flow-protocol", "%s", "DS-LITE");
        xml_send_all("sfw-flow-source-ip", "%s", src);
        xml_send_all("sfw-flow-destination-ip", "%s", dst);
    } else {
        xml_send_all("sfw-flow-protocol", "%s", proto2str(f.proto));
        xml_send_all("sfw-flow-source-ip", "%s", src);
        if (*sport)
            xml_send_all("sfw-flow-source-port", "%s", sport);
        xml_send_all("sfw-flow-destination-ip", "%s", dst);
        if (*dport)
            xml_send_all("sfw-flow-destination-port", "%s", dport);
    }
    xml_send_all("sfw-flow-state", "%s", flowtype2str(f.state));
    xml_send_all("sfw-flow-direction", "%s", dir2str(f.direction));
    xml_send_all("sfw-flow-frame-counter", "%u", f.frames);
}

void flow_details(const msp_flow &f, int xml) {
    // No ICMP detail is shown (the converter answers the empty text), so
    // the detail part is left out.
    const char *detail = is_icmp(f.proto) ? icmpproto2str(f.proto, f.dst_port) : "";
    bool has_detail = detail && *detail;
    if (!xml) {
        std::printf("Byte count: %12u\n", f.bytes);
        if (f.tcp_established == 1) {
            std::printf("TCP established, TCP window size: %u, TCP acknowledge: %u\n", f.tcp_window,
                        f.tcp_ack);
            if (f.tcp_tickle == 1)
                std::printf("TCP tickle enabled, tcp_tickle: %u, \n", f.tcp_tickle_value);
        }
        std::printf("Flow role: %s, Timeout: %u\n", role2str(f.role), f.timeout);
        if (has_detail)
            std::printf(", Protocol detail: %s \n", detail);
        else
            std::printf("\n");
        return;
    }
    xml_send_all("sfw-flow-table-byte-count", "%u", f.bytes);
    if (f.tcp_established == 1) {
        xml_send_all("sfw-flow-table-tcp-window-size", "%u", f.tcp_window);
        xml_send_all("sfw-flow-table-tcp-acknowledge", "%u", f.tcp_ack);
        if (f.tcp_tickle == 1)
            xml_send_all("sfw-flow-table-tcp-tickle", "%u", f.tcp_tickle_value);
    }
    xml_send_all("sfw-flow-table-role", "%s", role2str(f.role));
    xml_send_all("sfw-flow-table-timeout", "%u", f.timeout);
    if (has_detail)
        xml_send_all("sfw-flow-table-protocol-detail", "%s", detail);
}

} // namespace

const msp_cmd_handlers msp_flow_dump_handlers = {msp_flow_dump_open, msp_flow_dump_close,
                                                 msp_flow_dump_query};
const msp_cmd_handlers msp_flow_count_handlers = {msp_flow_count_open, msp_flow_count_close,
                                                  msp_flow_count_query};
const msp_cmd_handlers msp_flow_drain_handlers = {msp_flow_drain_open, msp_flow_drain_close,
                                                  msp_flow_drain_query};

bool msp_flow_read(const vorel::ByteReader &r, size_t off, msp_flow *out) {
    *out = msp_flow{};
    if (!r.has(off, MSP_FLOW_RECORD_LEN))
        return false;
    out->src = vorel_addr_read(r, off);
    out->dst = vorel_addr_read(r, off + 20);
    out->src_port = r.be16(off + 40);
    out->dst_port = r.be16(off + 42);
    out->direction = r.u8(off + 45);
    out->state = r.u8(off + 46);
    out->proto = r.u8(off + 47);
    out->timeout = r.be32(off + 48);
    out->frames = r.be32(off + 52);
    out->bytes = r.be32(off + 56);
    out->tcp_established = r.u8(off + 60);
    out->tcp_tickle = r.u8(off + 61);
    out->tcp_tickle_value = r.u8(off + 62);
    out->role = r.u8(off + 63);
    out->flow_flags = r.be16(off + 64);
    out->tcp_window = r.be16(off + 66);
    out->tcp_ack = r.be32(off + 68);
    msp_sw_info_read(r, off + 72, &out->sw);
    out->ds_lite = r.u8(off + 113);
    return true;
}

void msp_flow_print(const msp_flow *flow, int extensive, int xml) {
    if (!flow)
        return;
    const msp_flow &f = *flow;
    char sport[kPortTextLen] = "", dport[kPortTextLen] = "";
    if (!is_icmp(f.proto)) {
        port_text(f.src_port, f.flow_flags, sport);
        port_text(f.dst_port, f.flow_flags, dport);
    }
    char src[kAddrTextLen] = "", dst[kAddrTextLen] = "";
    address_texts(f, src, dst);
    if (xml) {
        xml_send_open("sfw-flow-entry");
        flow_row_xml(f, src, sport, dst, dport);
    } else {
        std::printf("%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n", proto2str(f.proto), src, sport, dst,
                    dport, flowtype2str(f.state), dir2str(f.direction), f.frames);
    }
    msp_session_sw_info_print(&f.sw, xml);
    if (extensive)
        flow_details(f, xml);
    if (xml)
        xml_send_close("sfw-flow-entry");
}
