// The flow entry that both flow tables show (the firewall/NAT family's
// flows, conversations and SIP listings; the session engine's flows and
// sessions): one skeleton, in text and XML.
//
// Each family decodes its own record and turns it into texts here; what
// differs between the families is in those texts (how a port is written,
// which translations a flow has) and in vorel_flow_style.
#pragma once

#include "platform/xml.h"
#include "vorel/vorel_util.h"

#include <cstdint>
#include <string_view>

// What the flow records of both families hold, decoded to host order and
// under the same names (each family's record adds its own fields; their
// places on the wire differ).
struct vorel_flow_common {
    vorel_addr src;
    vorel_addr dst;
    uint16_t src_port = 0;
    uint16_t dst_port = 0; // ICMP: type and code
    uint8_t direction = 0;
    uint8_t state = 0;
    uint8_t proto = 0;
    uint32_t timeout = 0;
    uint32_t frames = 0;
    uint32_t bytes = 0;
    uint8_t tcp_established = 0;
    uint8_t tcp_tickle = 0;
    uint8_t role = 0;
    uint16_t tcp_window = 0;
    uint32_t tcp_ack = 0;
};

// A translation line of the entry ("NAT source", "NAT dest"): the
// translated address and port texts.
struct vorel_flow_nat {
    std::string_view to_ip;
    std::string_view to_port;
};

// The entry's first line.
struct vorel_flow_line {
    uint8_t proto = 0;
    std::string_view src, sport, dst, dport;
    uint8_t state = 0, direction = 0;
    uint32_t frames = 0;
};

// The detail (-d, extensive).
struct vorel_flow_detail {
    uint32_t bytes = 0, timeout = 0, tcp_ack = 0;
    uint16_t tcp_window = 0;
    uint16_t icmp_type_code = 0; // the destination port of an ICMP flow
    bool tcp_established = false, tcp_tickle = false;
    uint8_t tickles = 0, role = 0;
};

struct vorel_flow_entry {
    vorel_flow_line line;
    // The XML protocol when the flow is the softwire's own tunnel
    // ("DS-LITE", "6RD"): the element then shows no ports.  Null otherwise.
    const char *tunnel = nullptr;
    const vorel_flow_nat *source_nat = nullptr;
    const vorel_flow_nat *destination_nat = nullptr;
    // The softwire line's ends; empty when the entry shows none.
    std::string_view softwire_from, softwire_to;
    vorel_flow_detail detail;
};

// The differences of the families.
struct vorel_flow_style {
    // The detail line of a TCP flow that tickles: this label, the count,
    // then ", " and the line's end.
    std::string_view tickle_label;
    // The softwire line in columns, "     Softwire %16s       ->%16s      \n",
    // rather than "     Softwire %s -> %s\n".
    bool softwire_columns = false;
    // XML: the translations of a softwire's tunnel flow show no ports.
    bool tunnel_hides_nat_ports = false;
    // XML: the translation element and its type leaf (null: "sfw-flow-nat"
    // and "sfw-flow-nat-type").
    const xml_tag *nat = nullptr;
    const xml_tag *nat_type = nullptr;
};
extern const vorel_flow_style vorel_flow_style_sfw; // "TCP tickles sent: N"
extern const vorel_flow_style vorel_flow_style_msp; // "tcp_tickle: N"

// The entry's elements, their tags made once (a table may hold millions);
// also for a family that renders the same elements around its own lines.
struct vorel_flow_tags {
    xml_tag entry{"sfw-flow-entry"};
    xml_tag protocol{"sfw-flow-protocol"};
    xml_tag source_ip{"sfw-flow-source-ip"};
    xml_tag source_port{"sfw-flow-source-port"};
    xml_tag destination_ip{"sfw-flow-destination-ip"};
    xml_tag destination_port{"sfw-flow-destination-port"};
    xml_tag state{"sfw-flow-state"};
    xml_tag direction{"sfw-flow-direction"};
    xml_tag frames{"sfw-flow-frame-counter"};
    xml_tag nat{"sfw-flow-nat"};
    xml_tag nat_type{"sfw-flow-nat-type"};
    xml_tag nat_ip{"sfw-flow-nat-ip"};
    xml_tag nat_port{"sfw-flow-nat-port"};
    xml_tag translated_ip{"sfw-flow-translated-ip"};
    xml_tag translated_port{"sfw-flow-translated-port"};
    xml_tag byte_count{"sfw-flow-table-byte-count"};
    xml_tag tcp_window{"sfw-flow-table-tcp-window-size"};
    xml_tag tcp_ack{"sfw-flow-table-tcp-acknowledge"};
    xml_tag tcp_tickle{"sfw-flow-table-tcp-tickle"};
    xml_tag role{"sfw-flow-table-role"};
    xml_tag timeout{"sfw-flow-table-timeout"};
    xml_tag protocol_detail{"sfw-flow-table-protocol-detail"};
};
const vorel_flow_tags &vorel_flow_xml_tags();

// A port as "%-5u" prints it (a port has at most five digits), NUL-ended in
// buf: the port columns of the flow tables.
std::string_view vorel_port_column(uint16_t port, char (&buf)[8]);

// An entry with the line and the detail of a record, no translation and no
// softwire: the address and port texts as the family writes them, tickles
// the count its record keeps.  Made member by member: an entry declared
// and then filled is cleared first, which costs a table of millions more
// than the filling.  Inline: called, it takes the last texts on the stack
// and reads each back in one wide load that must wait for both halves'
// stores (3 % of a text entry).
inline vorel_flow_entry vorel_flow_entry_of(const vorel_flow_common &f, std::string_view src,
                                            std::string_view sport, std::string_view dst,
                                            std::string_view dport, uint8_t tickles) {
    return {{f.proto, src, sport, dst, dport, f.state, f.direction, f.frames},
            nullptr,
            nullptr,
            nullptr,
            {},
            {},
            {f.bytes, f.timeout, f.tcp_ack, f.tcp_window, f.dst_port, f.tcp_established == 1,
             f.tcp_tickle == 1, tickles, f.role}};
}

// Renders one entry: an "sfw-flow-entry" element, or its text rows, each
// stored straight into standard output's buffer.
void vorel_flow_entry_print(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style,
                            bool xml);
// The softwire line alone (a session's softwire is shown like a flow's).
void vorel_flow_softwire_print(std::string_view from, std::string_view to, bool xml,
                               const vorel_flow_style &style = vorel_flow_style_msp);
