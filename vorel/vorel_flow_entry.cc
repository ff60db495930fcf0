#include "vorel/vorel_flow_entry.h"

#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_util.h"

#include <cstring>

const vorel_flow_style vorel_flow_style_sfw = {"TCP tickle enabled, TCP tickles sent: %u, \n"};
const vorel_flow_style vorel_flow_style_msp = {"TCP tickle enabled, tcp_tickle: %u, \n"};

namespace {

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

constexpr uint8_t kIcmp = 1, kIcmpv6 = 58;

// A port leaf only when the entry shows a port (ICMP shows none).
void xml_port(const xml_tag &tag, const char *text) {
    if (text[0])
        xml_leaf(tag, text);
}

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
void append_flow_line(vorel::TextBuffer &out, const vorel_flow_entry &e) {
    const char *proto = proto2str(e.line.proto);
    vorel::append_left(out, proto, std::strlen(proto), 5);
    append_column(out, e.line.src, 16);
    out.append(':');
    append_column(out, e.line.sport, 6);
    out.append(" ->", 3);
    append_column(out, e.line.dst, 15);
    append_column(out, e.line.dport, 6);
    append_column(out, flowtype2str(e.line.state), 7);
    append_column(out, dir2str(e.line.direction), 6);
    vorel::append_unsigned_right(out, e.line.frames, 11);
    out.append('\n');
}

void xml_flow_line(const vorel_flow_entry &e) {
    if (e.tunnel) {
        xml_leaf(kProtocol, e.tunnel);
        xml_leaf(kSourceIp, e.line.src);
        xml_leaf(kDestinationIp, e.line.dst);
    } else {
        xml_leaf(kProtocol, proto2str(e.line.proto));
        xml_leaf(kSourceIp, e.line.src);
        xml_port(kSourcePort, e.line.sport);
        xml_leaf(kDestinationIp, e.line.dst);
        xml_port(kDestinationPort, e.line.dport);
    }
    xml_leaf(kState, flowtype2str(e.line.state));
    xml_leaf(kDirection, dir2str(e.line.direction));
    xml_leaf(kFrames, e.line.frames);
}

// One translation of the flow as an "sfw-flow-nat" element.
void xml_translation(const char *type, const char *ip, const char *port, const vorel_flow_nat &to) {
    xml_open(kNat);
    xml_leaf(kNatType, type);
    xml_leaf(kNatIp, ip);
    xml_port(kNatPort, port);
    xml_leaf(kTranslatedIp, to.to_ip);
    xml_port(kTranslatedPort, to.to_port);
    xml_close(kNat);
}

void xml_softwire(const char *from, const char *to) {
    xml_open(kNat);
    xml_leaf(kNatType, "Softwire");
    xml_leaf(kNatIp, from);
    xml_leaf(kTranslatedIp, to);
    xml_close(kNat);
}

const char *protocol_detail(const vorel_flow_entry &e) {
    // The converter answers the empty text for every ICMP type: the detail
    // part is then left out.
    bool icmp = e.line.proto == kIcmp || e.line.proto == kIcmpv6;
    return icmp ? icmpproto2str(e.line.proto, e.detail.icmp_type_code) : "";
}

void xml_detail(const vorel_flow_entry &e) {
    const char *proto_detail = protocol_detail(e);
    xml_leaf(kByteCount, e.detail.bytes);
    if (e.detail.tcp_established) {
        xml_leaf(kTcpWindow, unsigned{e.detail.tcp_window});
        xml_leaf(kTcpAck, e.detail.tcp_ack);
        if (e.detail.tcp_tickle)
            xml_leaf(kTcpTickle, unsigned{e.detail.tickles});
    }
    xml_leaf(kRole, role2str(e.detail.role));
    xml_leaf(kTimeout, e.detail.timeout);
    if (proto_detail[0])
        xml_leaf(kProtocolDetail, proto_detail);
}

void text_detail(vorel::TextBuffer &out, const vorel_flow_entry &e, const vorel_flow_style &style) {
    const char *proto_detail = protocol_detail(e);
    vorel::format_append(out, "Byte count: %12u\n", e.detail.bytes);
    if (e.detail.tcp_established) {
        vorel::format_append(out, "TCP established, TCP window size: %u, TCP acknowledge: %u\n",
                             unsigned{e.detail.tcp_window}, e.detail.tcp_ack);
        if (e.detail.tcp_tickle)
            vorel::format_append(out, style.tickle_line, unsigned{e.detail.tickles});
    }
    vorel::format_append(out, "Flow role: %s, Timeout: %u\n", role2str(e.detail.role),
                         e.detail.timeout);
    if (proto_detail[0])
        vorel::format_append(out, ", Protocol detail: %s \n", proto_detail);
    else
        out.append('\n');
}

void xml_entry(const vorel_flow_entry &e, bool detail) {
    // The entry's dozen lines go out in one write.
    xml_batch batch;
    xml_open(kEntry);
    xml_flow_line(e);
    if (e.source_nat)
        xml_translation("NAT source", e.line.src, e.line.sport, *e.source_nat);
    if (e.destination_nat)
        xml_translation("NAT dest", e.line.dst, e.line.dport, *e.destination_nat);
    if (e.softwire_from)
        xml_softwire(e.softwire_from, e.softwire_to);
    if (detail)
        xml_detail(e);
    xml_close(kEntry);
}

void text_entry(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style) {
    vorel::TextBuffer &out = entry_text();
    out.clear();
    append_flow_line(out, e);
    if (e.source_nat)
        vorel::format_append(out, "     NAT source %16s:%6s ->%16s:%6s\n", e.line.src, e.line.sport,
                             e.source_nat->to_ip, e.source_nat->to_port);
    if (e.destination_nat)
        vorel::format_append(out, "     NAT dest %16s%6s ->%16s%6s\n", e.line.dst, e.line.dport,
                             e.destination_nat->to_ip, e.destination_nat->to_port);
    if (e.softwire_from)
        vorel::format_append(out, "     Softwire %s -> %s\n", e.softwire_from, e.softwire_to);
    if (detail)
        text_detail(out, e, style);
    vorel::write_stdout(out);
}

} // namespace

void vorel_flow_entry_fill(vorel_flow_entry *e, const vorel_flow_common &f, const char *src,
                           const char *sport, const char *dst, const char *dport, uint8_t tickles) {
    e->line = {f.proto, src, sport, dst, dport, f.state, f.direction, f.frames};
    e->detail = {f.bytes,           f.timeout,  f.tcp_ack,
                 f.tcp_window,      f.dst_port, f.tcp_established == 1,
                 f.tcp_tickle == 1, tickles,    f.role};
}

void vorel_flow_entry_print(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style,
                            bool xml) {
    if (xml)
        xml_entry(e, detail);
    else
        text_entry(e, detail, style);
}

void vorel_flow_softwire_print(const char *from, const char *to, bool xml) {
    if (xml) {
        xml_softwire(from, to);
        return;
    }
    vorel::TextBuffer &out = entry_text();
    out.clear();
    vorel::format_append(out, "     Softwire %s -> %s\n", from, to);
    vorel::write_stdout(out);
}
