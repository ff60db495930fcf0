#include "vorel/vorel_util.h"

#include "platform/xml.h"
#include "vorel/vorel_error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <netinet/in.h>

namespace {

// One row of a code/name table; tables end with an empty name.  The name
// is a literal, NUL-ended, and carries its length for the flow tables'
// columns.
struct code_name {
    int code;
    std::string_view name;
};

std::string_view name_of(const code_name *table, int code, std::string_view unknown) {
    for (const code_name *row = table; !row->name.empty(); row++)
        if (row->code == code)
            return row->name;
    return unknown;
}

// Option tables may list a name twice; every row is looked at and the
// last one that matches decides.
int code_of(const code_name *table, const char *name, int unknown) {
    int code = unknown;
    if (!name)
        return code;
    for (const code_name *row = table; !row->name.empty(); row++)
        if (row->name == name)
            code = row->code;
    return code;
}

const code_name alg_names[] = {
    {0, "any"},          {1, "ftp"},
    {2, "h323"},         {3, "tftp"},
    {4, "http"},         {5, "https"},
    {6, "rip"},          {7, "traceroute"},
    {8, "shell"},        {9, "snmp"},
    {10, "netshow"},     {11, "realaudio"},
    {12, "winframe"},    {13, "vdolive"},
    {14, "rtsp"},        {15, "rpcportmap"},
    {16, "rpc"},         {17, "login"},
    {18, "netbios"},     {19, "exec"},
    {20, "sqlnet"},      {22, "dcerpcportmap"},
    {23, "dcerpc"},      {24, "msexchange"},
    {25, "icmp"},        {26, "iiop"},
    {27, "dns"},         {28, "bootp"},
    {29, "sip"},         {32, "pptp"},
    {34, "ras"},         {37, "talk"},
    {40, "udp"},         {41, "tcp"},
    {42, "ip"},          {44, "icmpv6"},
    {49, "ike-esp-nat"}, {0, {}},
};

// In order of code: a session's ALG is looked up by halves (every session
// of a table names one).
constexpr code_name qrtalg_names[] = {
    {0, "none"},        {1, "ftp"},        {2, "rsh"},       {5, "portmapper"},   {11, "rtsp"},
    {13, "icmp"},       {16, "dns"},       {29, "tftp"},     {55, "msrpc"},       {60, "H323"},
    {61, "ras"},        {63, "sip"},       {64, "sqlnet"},   {65, "talk"},        {69, "pptp"},
    {71, "sccp"},       {72, "mgcp_ua"},   {73, "mgcp_ca"},  {74, "gtpc"},        {75, "gtpu"},
    {76, "gtp0"},       {77, "sctp"},      {79, "ftp data"}, {81, "ike-esp-nat"}, {82, "icmpv6"},
    {101, "tftp data"}, {102, "rtsp rtp"}, {103, "sip rtp"}, {1001, "ignore"},    {1002, "ip"},
    {1003, "tcp"},      {1004, "udp"},     {0, {}},
};

constexpr code_name proto_names[] = {
    {1, "ICMP"},    {2, "IGMP"},  {3, "GGP"},   {4, "IPIP"},  {6, "TCP"},    {8, "EGP"},
    {17, "UDP"},    {41, "IPV6"}, {46, "RSVP"}, {47, "GRE"},  {50, "ESP"},   {51, "AH"},
    {58, "ICMPV6"}, {88, "IGRP"}, {89, "OSPF"}, {103, "PIM"}, {132, "SCTP"}, {0, {}},
};

constexpr code_name flowtype_names[] = {
    {0, "Unknown"}, {1, "Watch"}, {2, "Forward"}, {3, "Drop"}, {4, "Reject"}, {0, {}},
};

constexpr code_name role_names[] = {
    {0, "Unknown"}, {1, "Initiator"}, {2, "Responder"}, {3, "Master"}, {0, {}},
};

const code_name msp_role_names[] = {{1, "forward"}, {2, "reverse"}, {0, {}}};

constexpr code_name dir_names[] = {{0, "U"}, {1, "I"}, {2, "O"}, {0, {}}};

// Option names of applications.  "icmpv6" is listed twice; both rows give
// the same code.
const code_name application_codes[] = {
    {28, "bootp"},   {23, "dce-rpc"},     {22, "dce-rpc-portmap"},
    {27, "dns"},     {19, "exec"},        {1, "ftp"},
    {2, "h323"},     {34, "ras"},         {25, "icmp"},
    {26, "iiop"},    {42, "ip"},          {17, "login"},
    {18, "netbios"}, {10, "netshow"},     {11, "realaudio"},
    {16, "rpc"},     {15, "rpc-portmap"}, {14, "rtsp"},
    {8, "shell"},    {35, "rsh"},         {29, "sip"},
    {9, "snmp"},     {20, "sqlnet"},      {37, "talk"},
    {3, "tftp"},     {7, "traceroute"},   {12, "winframe"},
    {32, "pptp"},    {44, "icmpv6"},      {49, "ike-esp-nat"},
    {57, "none"},    {55, "ftp-data"},    {4, "http"},
    {5, "https"},    {44, "icmpv6"},      {52, "imap"},
    {51, "smtp"},    {53, "ssh"},         {54, "telnet"},
    {0, {}},
};
constexpr int kUnknownApplication = 62;

const code_name protocol_codes[] = {
    {51, "ah"},    {8, "egp"},  {50, "esp"},  {47, "gre"},  {1, "icmp"},  {58, "icmp6"},
    {2, "igmp"},   {4, "ipip"}, {41, "ipv6"}, {89, "ospf"}, {103, "pim"}, {46, "rsvp"},
    {132, "sctp"}, {6, "tcp"},  {17, "udp"},  {0, {}},
};

// Applications that the session engine handles (0, "any", included).
const uint8_t msp_applications[] = {0,  8,  27, 1,  25, 42, 23, 22, 16, 15, 14,
                                    20, 37, 3,  32, 29, 2,  34, 35, 44, 49, 57};

// Address text goes through these two functions only, so that a platform
// parser or formatter can take their place in one spot.

// Parses one IPv4 or IPv6 address; the address bytes land in addr's words
// in network order.
bool parse_address(const char *text, vorel_addr *addr) {
    in_addr v4;
    if (inet_pton(AF_INET, text, &v4) == 1) {
        std::memcpy(&addr->words[0], &v4, sizeof v4);
        addr->is_v6 = 0;
        return true;
    }
    in6_addr v6;
    if (inet_pton(AF_INET6, text, &v6) == 1) {
        std::memcpy(addr->words, &v6, sizeof v6);
        addr->is_v6 = 1;
        return true;
    }
    return false;
}

// Copies text of len bytes into buf as snprintf would: cut to size - 1
// bytes, always terminated (when size > 0).
void copy_bounded(const char *text, size_t len, char *buf, size_t size) {
    if (size == 0)
        return;
    if (len >= size)
        len = size - 1;
    std::memcpy(buf, text, len);
    buf[len] = '\0';
}

// The decimal text of every octet, so that a dotted quad is four copies.
struct OctetText {
    char text[4]; // up to three digits (the rest zero)
    uint8_t len;
};

constexpr std::array<OctetText, 256> make_octet_texts() {
    std::array<OctetText, 256> t{};
    for (unsigned v = 0; v < 256; v++) {
        OctetText &o = t[v];
        unsigned at = 0;
        if (v >= 100)
            o.text[at++] = static_cast<char>('0' + v / 100);
        if (v >= 10)
            o.text[at++] = static_cast<char>('0' + v / 10 % 10);
        o.text[at++] = static_cast<char>('0' + v % 10);
        o.len = static_cast<uint8_t>(at);
    }
    return t;
}

constexpr std::array<OctetText, 256> kOctetTexts = make_octet_texts();

// Appends an octet's digits (p has room for 4 bytes).
char *put_octet(char *p, unsigned octet) {
    const OctetText &o = kOctetTexts[octet & 0xff];
    std::memcpy(p, o.text, 4);
    return p + o.len;
}
// Appends a dotted quad (p has room for 16 bytes).
char *put_ipv4(char *p, uint32_t addr) {
    p = put_octet(p, addr >> 24);
    *p++ = '.';
    p = put_octet(p, addr >> 16);
    *p++ = '.';
    p = put_octet(p, addr >> 8);
    *p++ = '.';
    return put_octet(p, addr);
}

// Appends a 16-bit group in lower-case hex without leading zeros.
char *put_group(char *p, unsigned v) {
    static const char digits[] = "0123456789abcdef";
    if (v >= 0x1000)
        *p++ = digits[v >> 12];
    if (v >= 0x100)
        *p++ = digits[(v >> 8) & 15];
    if (v >= 0x10)
        *p++ = digits[(v >> 4) & 15];
    *p++ = digits[v & 15];
    return p;
}

// The longest run of two or more zero groups (the first of equal runs),
// for every set of zero groups (bit i set when group i is zero): its start
// (-1: none) and its length.  Made at compile time, so that an address
// costs one lookup.
struct ZeroRun {
    int8_t start, len;
};

constexpr std::array<ZeroRun, 256> make_zero_runs() {
    std::array<ZeroRun, 256> runs{};
    for (unsigned zeros = 0; zeros < 256; zeros++) {
        ZeroRun best{-1, 0};
        for (int i = 0; i < 8;) {
            int j = i;
            while (j < 8 && (zeros >> j & 1))
                j++;
            if (j - i >= 2 && j - i > best.len)
                best = {static_cast<int8_t>(i), static_cast<int8_t>(j - i)};
            i = j > i ? j : i + 1;
        }
        runs[zeros] = best;
    }
    return runs;
}

constexpr std::array<ZeroRun, 256> kZeroRuns = make_zero_runs();

// Appends the groups from..to-1, each followed by a colon.
char *put_groups(char *p, const unsigned groups[8], int from, int to) {
    for (int i = from; i < to; i++) {
        p = put_group(p, groups[i]);
        *p++ = ':';
    }
    return p;
}

// Appends four host-order words as an IPv6 address in the C library's text
// (inet_ntop): the longest run of zero groups as "::", and an
// IPv4-compatible or IPv4-mapped address with its last 32 bits dotted.
// Written by hand: inet_ntop formats every group with sprintf, and a flow
// table formats millions of addresses.  p has room for 48 bytes.
char *put_ipv6(char *p, const uint32_t words[4]) {
    unsigned groups[8], zeros = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 8; i++) {
        groups[i] = (words[i / 2] >> (i % 2 ? 0 : 16)) & 0xffff;
        zeros |= unsigned{groups[i] == 0} << i;
    }
    int run = kZeroRuns[zeros].start, run_len = kZeroRuns[zeros].len;
    if (run < 0)
        return put_groups(p, groups, 0, 8) - 1; // no "::": the last colon goes
    p = put_groups(p, groups, 0, run);
    if (run == 0)
        *p++ = ':';
    *p++ = ':';
    if (run == 0 && (run_len == 6 || (run_len == 5 && groups[5] == 0xffff))) {
        if (run_len == 5) {
            std::memcpy(p, "ffff:", 5);
            p += 5;
        }
        return put_ipv4(p, words[3]);
    }
    int after = run + run_len;
    p = put_groups(p, groups, after, 8);
    return after == 8 ? p : p - 1; // "::" ends it, or the last group's colon goes
}

void format_ipv6(const uint32_t words[4], char *buf, size_t size) {
    char text[VOREL_ADDR_TEXT];
    copy_bounded(text, static_cast<size_t>(put_ipv6(text, words) - text), buf, size);
}

vorel_prefix_error_fn prefix_error_reporter = nullptr;

constexpr const char *kInvalidPrefix = "Error parsing source prefix filter, invalid prefix";

void report_invalid_prefix() {
    vorel_prefix_error_fn report = prefix_error_reporter ? prefix_error_reporter : xml_error;
    report("vorel", kInvalidPrefix);
}

// Splits "ADDRESS[/LENGTH]" and parses both halves.  *length is 0 when no
// length is given.  False for a bad address, a length that is not a plain
// decimal number, or a length beyond the family's width.
bool parse_prefix_text(const char *text, vorel_addr *addr, unsigned *length) {
    *length = 0;
    char addr_text[VOREL_PREFIX_ADDR_TEXT];
    const char *digits = nullptr;
    if (!vorel_split_prefix(text, addr_text, &digits) || !parse_address(addr_text, addr))
        return false;
    if (!digits)
        return true;
    const unsigned max_length = addr->is_v6 ? 128 : 32;
    unsigned value = 0;
    for (const char *p = digits; *p; p++) {
        value = value * 10 + unsigned(*p - '0');
        if (value > max_length)
            return false;
    }
    *length = value;
    return true;
}

// The mask of a prefix length (1..32 for IPv4, 1..128 for IPv6), in host
// order: whole words of ones, then the leftover bits at the top of the
// next word.
void build_mask(unsigned length, bool ipv6, vorel_addr *mask) {
    if (!ipv6) {
        mask->words[0] = vorel_top_bits(length);
        return;
    }
    for (unsigned i = 0; i < 4; i++) {
        unsigned covered = i * 32;
        unsigned bits = length > covered ? length - covered : 0;
        mask->words[i] = vorel_top_bits(bits > 32 ? 32 : bits);
    }
}

// The compact renderings share eight 16-byte buffers; each call advances
// the index first and writes into the next buffer.
constexpr int kRingSlots = 8;
constexpr size_t kRingSlotSize = 16;
char compact_ring[kRingSlots][kRingSlotSize];
int compact_index = 0;

char *next_compact_slot() {
    compact_index = (compact_index + 1) % kRingSlots;
    return compact_ring[compact_index];
}

// Right-aligned formats leave blanks in front; callers get the text from
// its first non-blank character.
const char *skip_blanks(const char *s) {
    while (*s == ' ')
        s++;
    return s;
}

} // namespace

vorel_addr vorel_addr_read(const vorel::ByteReader &r, size_t off) {
    vorel_addr a{};
    for (size_t i = 0; i < 4; i++)
        a.words[i] = r.be32(off + 4 * i);
    a.is_v6 = r.u8(off + 16);
    return a;
}

vorel_addr vorel_addr_to_host(const vorel_addr &network_order) {
    vorel_addr a = network_order;
    for (uint32_t &word : a.words)
        word = ntohl(word);
    return a;
}

void vorel_addr_write(vorel::ByteWriter &w, size_t off, const vorel_addr &a) {
    for (size_t i = 0; i < 4; i++)
        w.be32(off + 4 * i, a.words[i]);
    w.u8(off + 16, a.is_v6);
}

void vorel_flow_filter_write(vorel::ByteWriter &w, size_t off, const vorel_flow_filter &f) {
    vorel_addr_write(w, off + 0, f.sprefix);
    vorel_addr_write(w, off + 20, f.smask);
    vorel_addr_write(w, off + 40, f.dprefix);
    vorel_addr_write(w, off + 60, f.dmask);
    w.be16(off + 80, f.sport);
    w.be16(off + 82, f.dport);
    w.be16(off + 84, f.proto);
    w.u8(off + 86, f.alg);
    w.u8(off + 87, f.flag);
}

int vorel_wire_family(uint32_t family_word) {
    if (family_word == 0)
        return 0;
    return family_word == 2 ? VOREL_FAMILY_INET : VOREL_FAMILY_INET6;
}

const char *alg2str(int code) {
    return name_of(alg_names, code, "???").data();
}
const char *qrtalg2str(int code) {
    constexpr auto by_code = [](const code_name &a, const code_name &b) { return a.code < b.code; };
    // The rows before the terminator.
    constexpr const code_name *first = qrtalg_names, *last = std::end(qrtalg_names) - 1;
    static_assert(std::is_sorted(first, last, by_code));
    const code_name *row = std::lower_bound(first, last, code_name{code, {}}, by_code);
    return row != last && row->code == code ? row->name.data() : "???";
}

namespace {

// A table indexed by code, made at compile time from a table's rows, for
// the names every flow entry looks up (a row scan for each costs more than
// the rest of the column): codes 0 to N - 1, the unknown ones empty.  A
// row whose code does not fit stops the build (the throw is never a
// constant), rather than leaving its name out.
template <size_t N, size_t Rows>
constexpr std::array<std::string_view, N> dense_names(const code_name (&rows)[Rows]) {
    std::array<std::string_view, N> names{};
    for (const code_name &row : rows) {
        if (row.code < 0 || static_cast<size_t>(row.code) >= N)
            throw "a code past the table";
        if (names[static_cast<size_t>(row.code)].empty()) // the first row of a code names it
            names[static_cast<size_t>(row.code)] = row.name;
    }
    return names;
}

template <size_t N>
std::string_view named(const std::array<std::string_view, N> &names, int code,
                       std::string_view unknown) {
    std::string_view name;
    if (code >= 0 && static_cast<size_t>(code) < N)
        name = names[static_cast<size_t>(code)];
    return name.empty() ? unknown : name;
}

constexpr auto proto_by_code = dense_names<256>(proto_names);
constexpr auto flowtype_by_code = dense_names<8>(flowtype_names);
constexpr auto role_by_code = dense_names<8>(role_names);
constexpr auto dir_by_code = dense_names<4>(dir_names);

} // namespace

std::string_view proto2str(int proto) {
    std::string_view name = named(proto_by_code, proto, {});
    if (!name.empty())
        return name;
    // Unknown numbers share one small buffer; four digits and more are cut
    // to the first three.
    static char number[4];
    int len = std::snprintf(number, sizeof number, "%d", proto);
    return {number, len < 4 ? static_cast<size_t>(len) : 3};
}

std::string_view flowtype2str(int type) {
    return named(flowtype_by_code, type, "????");
}
std::string_view role2str(int role) {
    return named(role_by_code, role, "????");
}
const char *msp_role2str(int role) {
    return name_of(msp_role_names, role, "????").data();
}
std::string_view dir2str(int dir) {
    return named(dir_by_code, dir, "err");
}

const char *icmpproto2str(int, int) {
    return "";
}

int vorel_alg_supported_on_msp(uint8_t code) {
    for (uint8_t supported : msp_applications)
        if (supported == code)
            return 1;
    return 0;
}

uint8_t vorel_application_protocol_string_to_uint8(const char *name) {
    return uint8_t(code_of(application_codes, name, kUnknownApplication));
}

uint8_t vorel_protocol_string_to_uint8(const char *name) {
    return uint8_t(code_of(protocol_codes, name, 0));
}

// Dotted quad, written by hand: a flow table formats millions of them.
char *ip2str(uint32_t addr, char *buf, size_t size) {
    constexpr size_t kLongest = 16; // what put_ipv4 may store
    if (size >= kLongest) {
        *put_ipv4(buf, addr) = '\0';
        return buf;
    }
    char text[kLongest];
    char *end = put_ipv4(text, addr);
    copy_bounded(text, static_cast<size_t>(end - text), buf, size);
    return buf;
}

std::string_view vorel_addr_text(const vorel_addr &addr, bool v6, char (&buf)[VOREL_ADDR_TEXT]) {
    char *end = v6 ? put_ipv6(buf, addr.words) : put_ipv4(buf, addr.words[0]);
    *end = '\0';
    return {buf, static_cast<size_t>(end - buf)};
}

char *ipaddr_tostring(const vorel_addr *addr, char *buf, size_t size) {
    if (addr->is_v6)
        format_ipv6(addr->words, buf, size);
    else
        ip2str(addr->words[0], buf, size);
    return buf;
}

int prefix_value_to_string(int family, const vorel_addr *addr, int, char *buf, size_t size) {
    constexpr size_t kIpv6TextLimit = 80;
    if (family == VOREL_FAMILY_INET) {
        ip2str(addr->words[0], buf, size);
        return 0;
    }
    if (family == VOREL_FAMILY_INET6) {
        format_ipv6(addr->words, buf, size < kIpv6TextLimit ? size : kIpv6TextLimit);
        return 0;
    }
    return family;
}

int vorel_parse_prefix(vorel_addr *addr, const char *text, vorel_addr *mask) {
    *addr = vorel_addr{};
    *mask = vorel_addr{};
    unsigned length = 0;
    if (!parse_prefix_text(text, addr, &length)) {
        *addr = vorel_addr{};
        report_invalid_prefix();
        return 0;
    }
    mask->is_v6 = addr->is_v6;
    if (length == 0)
        return 0;
    build_mask(length, addr->is_v6, mask);
    return 1;
}

int vorel_prefix_parse(uint32_t *addr, const char *text) {
    vorel_addr parsed{};
    unsigned length = 0;
    if (!parse_prefix_text(text, &parsed, &length) || parsed.is_v6) {
        report_invalid_prefix();
        return 0;
    }
    *addr = parsed.words[0];
    return int(length);
}

vorel_prefix_result vorel_prefix_value(const char *value, vorel_addr *addr, vorel_addr *mask) {
    vorel_addr parsed{};
    int length = 0;
    if (vorel_prefix_parse_failed([&] { length = vorel_parse_prefix(&parsed, value, mask); }))
        return vorel_prefix_result::syntax;
    if (length == 0)
        return vorel_prefix_result::no_mask;
    *addr = vorel_addr_to_host(parsed); // the parser leaves it in network order
    return vorel_prefix_result::ok;
}

void vorel_prefix_refused(bool xml, bool say_in_xml) {
    if (!xml)
        vorel_note_failure("%s", kInvalidPrefix);
    else if (say_in_xml)
        xml_error("vorel", kInvalidPrefix);
}

bool vorel_option_prefix4(const char *value, uint32_t *addr, uint32_t *length) {
    uint32_t network_order = 0;
    int parsed = 0;
    if (!value ||
        vorel_prefix_parse_failed([&] { parsed = vorel_prefix_parse(&network_order, value); })) {
        // An error routine: it follows the XML writer's mode, as the others do.
        vorel_prefix_refused(xml_mode_on(), !value);
        return false;
    }
    *addr = ntohl(network_order);
    *length = static_cast<uint32_t>(parsed);
    return true;
}

vorel_prefix_error_fn vorel_set_prefix_error_reporter(vorel_prefix_error_fn fn) {
    vorel_prefix_error_fn previous = prefix_error_reporter ? prefix_error_reporter : xml_error;
    prefix_error_reporter = fn;
    return previous;
}

namespace {
bool prefix_failed = false;
const char *prefix_failure = nullptr;
void note_prefix_error(const char *program, const char *message) {
    prefix_failed = true;
    prefix_failure = message;
    xml_error(program, message);
}
} // namespace

bool vorel_prefix_parse_failed(const std::function<void()> &parse, const char **message) {
    prefix_failed = false;
    prefix_failure = nullptr;
    vorel_prefix_error_fn previous = vorel_set_prefix_error_reporter(note_prefix_error);
    parse();
    vorel_set_prefix_error_reporter(previous);
    if (prefix_failed && message)
        *message = prefix_failure;
    return prefix_failed;
}

const char *vorel_numbers_convert(double v) {
    char *slot = next_compact_slot();
    if (v > 5000000)
        std::snprintf(slot, kRingSlotSize, "%6.1fM", v / 1000000);
    else if (v > 5000)
        std::snprintf(slot, kRingSlotSize, "%6.1fk", v / 1000);
    else
        std::snprintf(slot, kRingSlotSize, "%4.1f", v);
    return skip_blanks(slot);
}

// The value counts tenths; whole units are shown (the division is integral).
const char *vorel_treshold_convert(unsigned v) {
    return vorel_numbers_convert(v / 10);
}

const char *vorel_time_convert(unsigned seconds) {
    char *slot = next_compact_slot();
    if (seconds > 86400)
        std::snprintf(slot, kRingSlotSize, "%ud%uh", seconds / 86400, seconds % 86400 / 3600);
    else if (seconds > 3600)
        std::snprintf(slot, kRingSlotSize, "%uh%um", seconds / 3600, seconds % 3600 / 60);
    else if (seconds > 60)
        std::snprintf(slot, kRingSlotSize, "%um%us", seconds / 60, seconds % 60);
    else
        std::snprintf(slot, kRingSlotSize, "%us", seconds);
    return skip_blanks(slot);
}

uint32_t vorel_top_bits(unsigned n) {
    if (n == 0)
        return 0;
    return n >= 32 ? 0xffffffffu : 0xffffffffu << (32 - n);
}

bool vorel_split_prefix(const char *text, char (&addr)[VOREL_PREFIX_ADDR_TEXT],
                        const char **digits) {
    *digits = nullptr;
    if (!text)
        return false;
    const char *slash = std::strchr(text, '/');
    size_t addr_len = slash ? size_t(slash - text) : std::strlen(text);
    if (addr_len >= sizeof addr)
        return false;
    std::memcpy(addr, text, addr_len);
    addr[addr_len] = '\0';
    if (!slash)
        return true;
    const char *length = slash + 1;
    size_t n = std::strlen(length);
    if (n == 0 || std::strspn(length, "0123456789") != n)
        return false;
    *digits = length;
    return true;
}
