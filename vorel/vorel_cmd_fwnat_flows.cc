// Flows: the flow table of each service set (dump_flow), its size
// (count_flow) and its removal (drain_flow), and the renderer of one flow
// entry that the conversation and SIP listings share.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_tally.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kCountRequest = 16, kCountReply = 17;
constexpr uint16_t kDrainRequest = 14, kDrainReply = 15;
constexpr uint16_t kDumpRequest = 18, kDumpReply = 19;
constexpr uint16_t kVersion = 2;

constexpr size_t kCountRequestSize = 112; // filter at 20
constexpr size_t kDrainRequestSize = 108; // filter at 16
constexpr size_t kDumpRequestSize = 108;  // limit at 16, filter at 20
constexpr size_t kLimitOffset = 16;
constexpr size_t kCountReplySize = 20; // the count at 16
constexpr size_t kCountOffset = 16;
constexpr size_t kFlowOffset = 24;
constexpr size_t kDumpReplySize = kFlowOffset + FWNAT_FLOW_RECORD_SIZE;

constexpr const char *kFlowHeading =
    "Flow                                                State    Dir       Frm count";

constexpr uint8_t kIcmp = 1, kIpip = 4, kIpv6 = 41, kGre = 47, kIcmpv6 = 58;
constexpr uint8_t kSoftwireDsLite = 1, kSoftwire6rd = 2;

constexpr size_t kAddrText = 80;
constexpr size_t kPortText = 8;

bool is_icmp(uint8_t proto) {
    return proto == kIcmp || proto == kIcmpv6;
}

// An address of a flow as text: IPv6 when the flag says so, else IPv4.
void address_text(const fwnat_addr &a, bool v6, char (&buf)[kAddrText]) {
    prefix_value_to_string(v6 ? VOREL_FAMILY_INET6 : VOREL_FAMILY_INET, &a, v6 ? 128 : 32, buf,
                           sizeof buf);
}

// A port column: "%-5u", or empty for ICMP, whose ports carry type and code.
// Written by hand (two per flow): a port has at most five digits.
void port_text(uint16_t port, uint8_t proto, char (&buf)[kPortText]) {
    buf[0] = '\0';
    if (is_icmp(proto))
        return;
    size_t digits = port >= 10000 ? 5 : port >= 1000 ? 4 : port >= 100 ? 3 : port >= 10 ? 2 : 1;
    std::memset(buf, ' ', 5);
    buf[5] = '\0';
    for (size_t i = digits; i > 0; i--) {
        buf[i - 1] = static_cast<char>('0' + port % 10);
        port = static_cast<uint16_t>(port / 10);
    }
}

// The entry's elements, their tags made once (a table may hold millions).
const xml_tag kEntry("sfw-flow-entry");
const xml_tag kProtocol("sfw-flow-protocol");
const xml_tag kSourceIp("sfw-flow-source-ip");
const xml_tag kSourcePort("sfw-flow-source-port");
const xml_tag kDestinationIp("sfw-flow-destination-ip");
const xml_tag kDestinationPort("sfw-flow-destination-port");
const xml_tag kState("sfw-flow-state");
const xml_tag kDirection("sfw-flow-direction");
const xml_tag kFrames("sfw-flow-frame-counter");
const xml_tag kNat("sfw-flow-nat");
const xml_tag kNatType("sfw-flow-nat-type");
const xml_tag kNatIp("sfw-flow-nat-ip");
const xml_tag kNatPort("sfw-flow-nat-port");
const xml_tag kTranslatedIp("sfw-flow-translated-ip");
const xml_tag kTranslatedPort("sfw-flow-translated-port");
const xml_tag kByteCount("sfw-flow-table-byte-count");
const xml_tag kTcpWindow("sfw-flow-table-tcp-window-size");
const xml_tag kTcpAck("sfw-flow-table-tcp-acknowledge");
const xml_tag kTcpTickle("sfw-flow-table-tcp-tickle");
const xml_tag kRole("sfw-flow-table-role");
const xml_tag kTimeout("sfw-flow-table-timeout");
const xml_tag kProtocolDetail("sfw-flow-table-protocol-detail");

void xml_port(const xml_tag &tag, const char *text) {
    if (text[0])
        xml_leaf(tag, text);
}

// One translation of the flow as an "sfw-flow-nat" element.
void xml_translation(const char *type, const char *ip, const char *port, const char *to_ip,
                     const char *to_port) {
    xml_open(kNat);
    xml_leaf(kNatType, type);
    xml_leaf(kNatIp, ip);
    xml_port(kNatPort, port);
    xml_leaf(kTranslatedIp, to_ip);
    xml_port(kTranslatedPort, to_port);
    xml_close(kNat);
}

struct flow_texts {
    char src[kAddrText], dst[kAddrText];
    char sport[kPortText], dport[kPortText];
};

// The text of one entry, written in one piece once it is whole.
vorel::TextBuffer &entry_text() {
    static vorel::TextBuffer *text = new vorel::TextBuffer;
    return *text;
}

void append_column(vorel::TextBuffer &out, const char *text, size_t width) {
    vorel::append_right(out, text, std::strlen(text), width);
}

// The flow's line, as "%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n" prints it,
// column by column: the table's busiest line.
void append_flow_line(vorel::TextBuffer &out, const fwnat_flow_record &f, const flow_texts &t) {
    const char *proto = proto2str(f.proto);
    vorel::append_left(out, proto, std::strlen(proto), 5);
    append_column(out, t.src, 16);
    out.append(':');
    append_column(out, t.sport, 6);
    out.append(" ->", 3);
    append_column(out, t.dst, 15);
    append_column(out, t.dport, 6);
    append_column(out, flowtype2str(f.state), 7);
    append_column(out, dir2str(f.direction), 6);
    vorel::append_unsigned_right(out, f.frames, 11);
    out.append('\n');
}

// The entry's first lines; true when the XML protocol already named the
// softwire (DS-Lite, 6rd), so that no Softwire element follows.
bool print_flow_line(const fwnat_flow_record &f, const flow_texts &t, int xml) {
    if (!xml) {
        append_flow_line(entry_text(), f, t);
        return false;
    }
    bool softwire_shown = false;
    if ((f.sw_type == kSoftwire6rd && f.proto == kIpv6) ||
        (f.sw_type == kSoftwireDsLite && f.proto == kIpip)) {
        xml_leaf(kProtocol, f.sw_type == kSoftwire6rd ? "6RD" : "DS-LITE");
        xml_leaf(kSourceIp, t.src);
        xml_leaf(kDestinationIp, t.dst);
        softwire_shown = true;
    } else {
        xml_leaf(kProtocol, proto2str(f.proto));
        xml_leaf(kSourceIp, t.src);
        xml_port(kSourcePort, t.sport);
        xml_leaf(kDestinationIp, t.dst);
        xml_port(kDestinationPort, t.dport);
    }
    xml_leaf(kState, flowtype2str(f.state));
    xml_leaf(kDirection, dir2str(f.direction));
    xml_leaf(kFrames, f.frames);
    return softwire_shown;
}

void print_source_nat(const fwnat_flow_record &f, const flow_texts &t, int xml) {
    char to_ip[kAddrText], to_port[kPortText];
    address_text(f.snat_addr, f.snat_addr.is_v6, to_ip);
    port_text(f.snat_port ? f.snat_port : f.src_port, f.proto, to_port);
    if (xml)
        xml_translation("NAT source", t.src, t.sport, to_ip, to_port);
    else
        vorel::format_append(entry_text(), "     NAT source %16s:%6s ->%16s:%6s\n", t.src, t.sport,
                             to_ip, to_port);
}

void print_destination_nat(const fwnat_flow_record &f, const flow_texts &t, int xml) {
    char to_ip[kAddrText], to_port[kPortText];
    address_text(f.dnat_addr, f.dnat_addr.is_v6, to_ip);
    // An untranslated port stays the destination port, except for GRE,
    // which has none.
    uint16_t port = f.dnat_port ? f.dnat_port : (f.proto == kGre ? 0 : f.dst_port);
    port_text(port, f.proto, to_port);
    if (xml)
        xml_translation("NAT dest", t.dst, t.dport, to_ip, to_port);
    else
        vorel::format_append(entry_text(), "     NAT dest %16s%6s ->%16s%6s\n", t.dst, t.dport,
                             to_ip, to_port);
}

void print_softwire(const fwnat_flow_record &f, int xml) {
    bool v6 = f.sw_type == kSoftwireDsLite;
    char from[kAddrText], to[kAddrText];
    address_text(f.sw_src, v6, from);
    address_text(f.sw_dst, v6, to);
    if (xml) {
        xml_open(kNat);
        xml_leaf(kNatType, "Softwire");
        xml_leaf(kNatIp, from);
        xml_leaf(kTranslatedIp, to);
        xml_close(kNat);
    } else {
        vorel::format_append(entry_text(), "     Softwire %s -> %s\n", from, to);
    }
}

void print_detail(const fwnat_flow_record &f, int xml) {
    const char *protocol_detail = is_icmp(f.proto) ? icmpproto2str(f.proto, f.dst_port) : "";
    const bool tcp = f.tcp_established == 1;
    const bool tickles = tcp && f.tcp_tickle == 1;
    if (xml) {
        xml_leaf(kByteCount, f.bytes);
        if (tcp) {
            xml_leaf(kTcpWindow, unsigned{f.tcp_window});
            xml_leaf(kTcpAck, f.tcp_ack);
        }
        if (tickles)
            xml_leaf(kTcpTickle, unsigned{f.tickles_sent});
        xml_leaf(kRole, role2str(f.role));
        xml_leaf(kTimeout, f.timeout);
        if (protocol_detail[0])
            xml_leaf(kProtocolDetail, protocol_detail);
        return;
    }
    vorel::format_append(entry_text(), "Byte count: %12u\n", f.bytes);
    if (tcp)
        vorel::format_append(entry_text(),
                             "TCP established, TCP window size: %u, TCP acknowledge: %u\n",
                             unsigned{f.tcp_window}, f.tcp_ack);
    if (tickles)
        vorel::format_append(entry_text(), "TCP tickle enabled, TCP tickles sent: %u, \n",
                             unsigned{f.tickles_sent});
    vorel::format_append(entry_text(), "Flow role: %s, Timeout: %u\n", role2str(f.role), f.timeout);
    if (protocol_detail[0])
        vorel::format_append(entry_text(), ", Protocol detail: %s \n", protocol_detail);
    else
        vorel::format_append(entry_text(), "\n");
}

} // namespace

namespace {

using flow_block = vorel::ByteBlock<FWNAT_FLOW_RECORD_SIZE>;

} // namespace

// The record's size is checked once; its fields are read at offsets the
// compiler checks against that size (a table holds millions of records).
fwnat_flow_record fwnat_flow_read(const vorel::ByteReader &r, size_t off) {
    flow_block b;
    if (!r.block(off, b))
        return fwnat_flow_record{}; // not all there: an empty record
    return fwnat_flow_decode(b);
}

fwnat_flow_record fwnat_flow_decode(const vorel::ByteBlock<FWNAT_FLOW_RECORD_SIZE> &b) {
    fwnat_flow_record f;
    f.src = vorel_addr_decode<0>(b);
    f.dst = vorel_addr_decode<20>(b);
    f.src_port = b.be16<40>();
    f.dst_port = b.be16<42>();
    f.snat_valid = b.be16<44>();
    f.dnat_valid = b.be16<46>();
    f.snat_addr = vorel_addr_decode<48>(b);
    f.dnat_addr = vorel_addr_decode<68>(b);
    f.snat_port = b.be16<88>();
    f.dnat_port = b.be16<90>();
    f.direction = b.u8<93>();
    f.state = b.u8<94>();
    f.proto = b.u8<95>();
    f.timeout = b.be32<96>();
    f.frames = b.be32<100>();
    f.bytes = b.be32<104>();
    f.tcp_established = b.u8<108>();
    f.tcp_tickle = b.u8<109>();
    f.tickles_sent = b.u8<110>();
    f.role = b.u8<111>();
    f.tcp_window = b.be16<112>();
    f.tcp_ack = b.be32<116>();
    f.sw_src = vorel_addr_decode<124>(b);
    f.sw_dst = vorel_addr_decode<144>(b);
    f.sw_type = b.u8<164>();
    return f;
}

namespace {
void print_flow_entry(const fwnat_flow_record &f, const flow_texts &t, bool detail, int xml);
} // namespace

void fwnat_flow_print(const fwnat_flow_record &f, bool detail, int xml) {
    flow_texts t;
    port_text(f.src_port, f.proto, t.sport);
    port_text(f.dst_port, f.proto, t.dport);
    // Both ends of the flow are of the source's family.
    address_text(f.src, f.src.is_v6, t.src);
    address_text(f.dst, f.src.is_v6, t.dst);

    if (!xml) {
        entry_text().clear();
        print_flow_entry(f, t, detail, false);
        vorel::write_stdout(entry_text());
        return;
    }
    // The entry's dozen lines go out in one write.
    xml_batch batch;
    xml_open(kEntry);
    print_flow_entry(f, t, detail, true);
    xml_close(kEntry);
}

namespace {

void print_flow_entry(const fwnat_flow_record &f, const flow_texts &t, bool detail, int xml) {
    bool softwire_shown = print_flow_line(f, t, xml);
    if (f.snat_valid == 1)
        print_source_nat(f, t, xml);
    if (f.dnat_valid == 1)
        print_destination_nat(f, t, xml);
    if (f.sw_type != 0 && !softwire_shown)
        print_softwire(f, xml);
    if (detail)
        print_detail(f, xml);
}

} // namespace

void fwnat_flow_table_open(int xml) {
    if (xml)
        xml_send_open("service-sfw-flow-table", {xml_attribute("heading", kFlowHeading)});
    else
        std::printf("%s\n\n", kFlowHeading);
}

void fwnat_flow_table_close(int xml) {
    if (xml)
        xml_send_close("service-sfw-flow-table");
}

// ---------------------------------------------------------------------------
// dump_flow

int fwnat_flow_dump_open(vorel_ctx *ctxt, fwnat_params *) {
    fwnat_open_enclosing(ctxt, "vorel: flow dump start \n", "service-sfw-flow-table-information",
                         nullptr);
    return 0;
}

int fwnat_flow_dump_close(vorel_ctx *ctxt, fwnat_params *) {
    vorel_close_enclosing(ctxt, "vorel: flow dump done \n", nullptr);
    return 0;
}

int fwnat_flow_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(kDumpRequest, kVersion, kDumpRequestSize, ss);
    req.be32(kLimitOffset, static_cast<uint32_t>(p->limit));
    fwnat_flow_filter_write(req, 20, *p);
    if (vorel_send(c, req) < 0)
        return -1;

    // The heading comes with the first flow: a service set without flows
    // shows nothing at all.
    vorel_svc_set_section section(ctxt, "sfw-per-service-set-flow-table", asp->name, ss->name,
                                  "\n");
    vorel_section table(ctxt, "service-sfw-flow-table", {xml_attribute("heading", kFlowHeading)});
    table.on_text_open([] { std::printf("%s\n\n", kFlowHeading); });
    vorel::ByteBlock<kDumpReplySize> reply;
    while (vorel_receive_block(c, kDumpReply, kVersion, asp->name, short_reply::skip, &reply)) {
        if (section.open())
            table.open();
        fwnat_flow_print(fwnat_flow_decode(reply.block<kFlowOffset, FWNAT_FLOW_RECORD_SIZE>()),
                         p->detail, ctxt->xml);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// count_flow and drain_flow: one number per service set.

namespace {

struct tally_kind {
    uint16_t request, reply;
    size_t request_size, filter_offset;
    const char *element, *count_element;
};

const tally_kind kCount{kCountRequest, kCountReply, kCountRequestSize, 20, "service-sfw-flow-count",
                        "flow-count"};
const tally_kind kDrain{
    kDrainRequest,          kDrainReply, kDrainRequestSize, 16, "service-sfw-flow-drain",
    "conversations-removed"};

int tally_query(const tally_kind &k, vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp,
                svc_set_info *ss, fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(k.request, kVersion, k.request_size, ss);
    fwnat_flow_filter_write(req, k.filter_offset, *p);
    return vorel_tally_exchange<kCountReplySize>(
        c, req, k.reply, kVersion, asp->name, short_reply::skip,
        [&](const vorel::ByteBlock<kCountReplySize> &b) {
            vorel_tally_entry(ctxt, asp->name, ss->name, b.be32<kCountOffset>(), k.element,
                              k.count_element);
        });
}

} // namespace

int fwnat_flow_count_open(vorel_ctx *ctxt, fwnat_params *) {
    fwnat_open_enclosing(
        ctxt, "vorel: flow count open \n", "service-sfw-flow-count-information",
        "PIC             Service set                                         Flow Count\n\n");
    return 0;
}

int fwnat_flow_count_close(vorel_ctx *ctxt, fwnat_params *) {
    vorel_close_enclosing(ctxt, "vorel: flow count done \n", nullptr);
    return 0;
}

int fwnat_flow_count_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           fwnat_params *p) {
    return tally_query(kCount, ctxt, c, asp, ss, p);
}

int fwnat_flow_drain_open(vorel_ctx *ctxt, fwnat_params *) {
    fwnat_open_enclosing(
        ctxt, "vorel: flow drain start \n", "service-sfw-flow-drain-information",
        "PIC             Service set                                        Flow Removed\n\n");
    return 0;
}

int fwnat_flow_drain_close(vorel_ctx *ctxt, fwnat_params *) {
    vorel_close_enclosing(ctxt, "vorel: flow drain done \n", nullptr);
    return 0;
}

int fwnat_flow_drain_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                           fwnat_params *p) {
    return tally_query(kDrain, ctxt, c, asp, ss, p);
}
