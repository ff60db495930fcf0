#include "vorel/vorel_flow_entry.h"

#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_util.h"

#include <array>
#include <charconv>
#include <cstring>

const vorel_flow_style vorel_flow_style_sfw = {"TCP tickle enabled, TCP tickles sent: "};
const vorel_flow_style vorel_flow_style_msp = {"TCP tickle enabled, tcp_tickle: "};

namespace {

// Made once, before main (the renderers run only after it).
const vorel_flow_tags kTags;

inline const vorel_flow_tags &tags() {
    return kTags;
}

constexpr uint8_t kIcmp = 1, kIcmpv6 = 58;

// Every text of an entry is the program's own (address texts, port
// columns, names from its tables): its leaves go through xml_leaves.

// A port leaf only when the entry shows a port (ICMP shows none).  Inline,
// as the leaves are: a call would cost as much as the leaf.
[[gnu::always_inline]] inline void xml_port(xml_leaves &out, const xml_tag &tag,
                                            std::string_view text) {
    if (!text.empty())
        out.leaf(tag, text);
}

// Each line reserves its room once and stores its columns through one
// pointer. A column takes at most its width and its text: the room is
// the sum of the widths and the texts.

// A name column of the flow line ("%-5s" or "%*s" of the name) made once
// for every code of a byte: the line stores the column in one 16-byte move
// instead of a lookup and a padded copy, and the XML leaf takes the name
// from it without a lookup either.
class NameColumns {
  public:
    enum Align { kLeft, kRight };
    NameColumns(std::string_view (*name_of)(int), size_t width, Align align)
        : name_of_(name_of), width_(width), align_(align) {
        for (int code = 0; code < 256; code++) {
            std::string_view name = name_of(code);
            Column &c = columns_[code];
            std::memset(c.text, ' ', sizeof c.text);
            if (name.size() > sizeof c.text) {
                c.len = kWide; // put and name ask name_of
                continue;
            }
            c.at = static_cast<uint8_t>(
                align == kLeft || name.size() >= width ? 0 : width - name.size());
            c.name_len = static_cast<uint8_t>(name.size());
            std::memcpy(c.text + c.at, name.data(), name.size());
            c.len = static_cast<uint8_t>(name.size() > width ? name.size() : width);
        }
    }
    // The column at d (room for 16 bytes, or the name and its width).
    char *put(char *d, uint8_t code) const noexcept {
        const Column &c = columns_[code];
        if (c.len == kWide) [[unlikely]] {
            std::string_view name = name_of_(code);
            return align_ == kLeft ? vorel::put_left(d, name, width_)
                                   : vorel::put_right(d, name, width_);
        }
        std::memcpy(d, c.text, sizeof c.text);
        return d + c.len;
    }
    // The name alone.
    std::string_view name(uint8_t code) const noexcept {
        const Column &c = columns_[code];
        if (c.len == kWide) [[unlikely]]
            return name_of_(code);
        return {c.text + c.at, c.name_len};
    }

  private:
    static constexpr uint8_t kWide = 0xff;
    struct Column {
        char text[16];
        uint8_t len, at, name_len;
    };
    std::array<Column, 256> columns_;
    std::string_view (*name_of_)(int);
    size_t width_;
    Align align_;
};

// Made before main, from tables the compiler made.
const NameColumns kProtoColumns(proto2str, 5, NameColumns::kLeft);
const NameColumns kStateColumns(flowtype2str, 7, NameColumns::kRight);
const NameColumns kDirectionColumns(dir2str, 6, NameColumns::kRight);

// The flow's line, as "%-5s%16s:%6s ->%15s%6s%7s%6s%11u\n" prints it,
// column by column: the table's busiest line.
void append_flow_line(vorel::StreamText &out, const vorel_flow_line &l) {
    using namespace vorel;
    // The name columns take at most 16 bytes each (or their wide name).
    constexpr size_t kFixed = 3 * 16 + 16 + 1 + 6 + 3 + 15 + 6 + 11 + 10 + 1;
    size_t room = kFixed + l.src.size() + l.sport.size() + l.dst.size() + l.dport.size();
    out.append_by(room, [&](char *d) noexcept {
        d = kProtoColumns.put(d, l.proto);
        d = put_right(d, l.src, 16);
        *d++ = ':';
        d = put_right(d, l.sport, 6);
        d = put_text(d, " ->");
        d = put_right(d, l.dst, 15);
        d = put_right(d, l.dport, 6);
        d = kStateColumns.put(d, l.state);
        d = kDirectionColumns.put(d, l.direction);
        d = put_unsigned_right(d, l.frames, 11);
        *d++ = '\n';
        return d;
    });
}

// A translation line, as "     NAT source %16s:%6s ->%16s:%6s\n" (the
// separator ":") or "     NAT dest %16s%6s ->%16s%6s\n" (none) prints it.
void append_nat_line(vorel::StreamText &out, std::string_view label, std::string_view separator,
                     std::string_view ip, std::string_view port, const vorel_flow_nat &to) {
    using namespace vorel;
    constexpr size_t kFixed = 16 + 6 + 3 + 16 + 6 + 1;
    size_t room = kFixed + label.size() + 2 * separator.size() + ip.size() + port.size() +
                  to.to_ip.size() + to.to_port.size();
    out.append_by(room, [&](char *d) noexcept {
        d = put_text(d, label);
        d = put_right(d, ip, 16);
        d = put_text(d, separator);
        d = put_right(d, port, 6);
        d = put_text(d, " ->");
        d = put_right(d, to.to_ip, 16);
        d = put_text(d, separator);
        d = put_right(d, to.to_port, 6);
        *d++ = '\n';
        return d;
    });
}

void append_softwire_line(vorel::StreamText &out, const vorel_flow_style &style,
                          std::string_view from, std::string_view to) {
    using namespace vorel;
    constexpr size_t kFixed = 14 + 16 + 9 + 16 + 7;
    out.append_by(kFixed + from.size() + to.size(), [&](char *d) noexcept {
        d = put_text(d, "     Softwire ");
        if (style.softwire_columns) {
            d = put_right(d, from, 16);
            d = put_text(d, "       ->");
            d = put_right(d, to, 16);
            return put_text(d, "      \n");
        }
        d = put_text(d, from);
        d = put_text(d, " -> ");
        d = put_text(d, to);
        *d++ = '\n';
        return d;
    });
}

void xml_flow_line(xml_leaves &out, const vorel_flow_entry &e) {
    if (e.tunnel) {
        out.leaf(tags().protocol, e.tunnel);
        out.leaf(tags().source_ip, e.line.src);
        out.leaf(tags().destination_ip, e.line.dst);
    } else {
        out.leaf(tags().protocol, kProtoColumns.name(e.line.proto));
        out.leaf(tags().source_ip, e.line.src);
        xml_port(out, tags().source_port, e.line.sport);
        out.leaf(tags().destination_ip, e.line.dst);
        xml_port(out, tags().destination_port, e.line.dport);
    }
    out.leaf(tags().state, kStateColumns.name(e.line.state));
    out.leaf(tags().direction, kDirectionColumns.name(e.line.direction));
    out.leaf(tags().frames, e.line.frames);
}

const xml_tag &nat_tag(const vorel_flow_style &style) {
    return style.nat ? *style.nat : tags().nat;
}
const xml_tag &nat_type_tag(const vorel_flow_style &style) {
    return style.nat_type ? *style.nat_type : tags().nat_type;
}

// One translation of the flow as a translation element.
void xml_translation(xml_leaves &out, const vorel_flow_entry &e, const vorel_flow_style &style,
                     std::string_view type, std::string_view ip, std::string_view port,
                     const vorel_flow_nat &to) {
    bool ports = !(style.tunnel_hides_nat_ports && e.tunnel);
    out.open(nat_tag(style));
    out.leaf(nat_type_tag(style), type);
    out.leaf(tags().nat_ip, ip);
    if (ports)
        xml_port(out, tags().nat_port, port);
    out.leaf(tags().translated_ip, to.to_ip);
    if (ports)
        xml_port(out, tags().translated_port, to.to_port);
    out.close(nat_tag(style));
}

void xml_softwire(xml_leaves &out, const vorel_flow_style &style, std::string_view from,
                  std::string_view to) {
    out.open(nat_tag(style));
    out.leaf(nat_type_tag(style), "Softwire");
    out.leaf(tags().nat_ip, from);
    out.leaf(tags().translated_ip, to);
    out.close(nat_tag(style));
}

const char *protocol_detail(const vorel_flow_entry &e) {
    // The converter answers the empty text for every ICMP type: the detail
    // part is then left out.
    bool icmp = e.line.proto == kIcmp || e.line.proto == kIcmpv6;
    return icmp ? icmpproto2str(e.line.proto, e.detail.icmp_type_code) : "";
}

void xml_detail(xml_leaves &out, const vorel_flow_entry &e) {
    const char *proto_detail = protocol_detail(e);
    out.leaf(tags().byte_count, e.detail.bytes);
    if (e.detail.tcp_established) {
        out.leaf(tags().tcp_window, unsigned{e.detail.tcp_window});
        out.leaf(tags().tcp_ack, e.detail.tcp_ack);
        if (e.detail.tcp_tickle)
            out.leaf(tags().tcp_tickle, unsigned{e.detail.tickles});
    }
    out.leaf(tags().role, role2str(e.detail.role));
    out.leaf(tags().timeout, e.detail.timeout);
    if (proto_detail[0])
        out.leaf(tags().protocol_detail, proto_detail);
}

void text_detail(vorel::StreamText &out, const vorel_flow_entry &e, const vorel_flow_style &style) {
    using namespace vorel;
    const vorel_flow_detail &t = e.detail;
    std::string_view proto_detail = protocol_detail(e), role = role2str(t.role),
                     tickle = style.tickle_label;
    // The fixed texts, and five numbers of at most ten digits.
    constexpr size_t kFixed = 12 + 12 + 1 + 34 + 19 + 1 + 3 + 11 + 11 + 1 + 19 + 2 + 1 + 5 * 10;
    out.append_by(kFixed + proto_detail.size() + role.size() + tickle.size(),
                  [&](char *d) noexcept {
                      d = put_text(d, "Byte count: ");
                      d = put_unsigned_right(d, t.bytes, 12);
                      *d++ = '\n';
                      if (t.tcp_established) {
                          d = put_text(d, "TCP established, TCP window size: ");
                          d = put_unsigned(d, t.tcp_window);
                          d = put_text(d, ", TCP acknowledge: ");
                          d = put_unsigned(d, t.tcp_ack);
                          *d++ = '\n';
                          if (t.tcp_tickle) {
                              d = put_text(d, tickle);
                              d = put_unsigned(d, t.tickles);
                              d = put_text(d, ", \n");
                          }
                      }
                      d = put_text(d, "Flow role: ");
                      d = put_text(d, role);
                      d = put_text(d, ", Timeout: ");
                      d = put_unsigned(d, t.timeout);
                      *d++ = '\n';
                      if (proto_detail.empty()) {
                          *d++ = '\n';
                          return d;
                      }
                      d = put_text(d, ", Protocol detail: ");
                      d = put_text(d, proto_detail);
                      return put_text(d, " \n");
                  });
}

void xml_entry(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style) {
    // The entry's dozen lines in one row, stored straight into standard
    // output's buffer (or going out in one write).
    xml_leaves out;
    out.open(tags().entry);
    xml_flow_line(out, e);
    if (e.source_nat)
        xml_translation(out, e, style, "NAT source", e.line.src, e.line.sport, *e.source_nat);
    if (e.destination_nat)
        xml_translation(out, e, style, "NAT dest", e.line.dst, e.line.dport, *e.destination_nat);
    if (!e.softwire_from.empty())
        xml_softwire(out, style, e.softwire_from, e.softwire_to);
    if (detail)
        xml_detail(out, e);
    out.close(tags().entry);
}

void text_entry(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style) {
    // Line by line, straight into standard output's buffer.
    vorel::StreamText out(stdout);
    append_flow_line(out, e.line);
    if (e.source_nat)
        append_nat_line(out, "     NAT source ", ":", e.line.src, e.line.sport, *e.source_nat);
    if (e.destination_nat)
        append_nat_line(out, "     NAT dest ", "", e.line.dst, e.line.dport, *e.destination_nat);
    if (!e.softwire_from.empty())
        append_softwire_line(out, style, e.softwire_from, e.softwire_to);
    if (detail)
        text_detail(out, e, style);
}

} // namespace

const vorel_flow_tags &vorel_flow_xml_tags() {
    return tags();
}

namespace {
// "00" to "99", so that a port's digits go two at a time.
constexpr std::array<char, 200> make_digit_pairs() {
    std::array<char, 200> t{};
    for (unsigned v = 0; v < 100; v++) {
        t[2 * v] = static_cast<char>('0' + v / 10);
        t[2 * v + 1] = static_cast<char>('0' + v % 10);
    }
    return t;
}
constexpr std::array<char, 200> kDigitPairs = make_digit_pairs();

// The digits of v < 100 * 100^pairs, the last pair ending at end.
void put_pairs_back(char *end, unsigned v, int pairs) {
    for (int i = 0; i < pairs; i++, v /= 100)
        std::memcpy(end - 2 * (i + 1), &kDigitPairs[2 * (v % 100)], 2);
}
} // namespace

std::string_view vorel_port_column(uint16_t port, char (&buf)[8]) {
    // Five blanks and the NUL in one store; the digits overwrite the first.
    // A port's digits by its own few cases: std::to_chars, for any width
    // of number, cost a port column 50 instructions where these take 20.
    std::memcpy(buf, "     \0\0", 8);
    unsigned v = port;
    if (v < 10) {
        buf[0] = static_cast<char>('0' + v);
    } else if (v < 100) {
        put_pairs_back(buf + 2, v, 1);
    } else if (v < 1000) {
        buf[0] = static_cast<char>('0' + v / 100);
        put_pairs_back(buf + 3, v % 100, 1);
    } else if (v < 10000) {
        put_pairs_back(buf + 4, v, 2);
    } else {
        buf[0] = static_cast<char>('0' + v / 10000);
        put_pairs_back(buf + 5, v % 10000, 2);
    }
    return {buf, 5};
}

void vorel_flow_entry_print(const vorel_flow_entry &e, bool detail, const vorel_flow_style &style,
                            bool xml) {
    if (xml)
        xml_entry(e, detail, style);
    else
        text_entry(e, detail, style);
}

void vorel_flow_softwire_print(std::string_view from, std::string_view to, bool xml,
                               const vorel_flow_style &style) {
    if (xml) {
        xml_leaves out;
        xml_softwire(out, style, from, to);
        return;
    }
    vorel::StreamText out(stdout);
    append_softwire_line(out, style, from, to);
}
