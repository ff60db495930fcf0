// Value converters shared by the renderers and option parsers: codes from
// PIC replies to names, names from the command line to codes, addresses
// and prefixes to and from text, and compact renderings of large counts
// and durations.
//
// Everything here is a pure function except proto2str (one static buffer
// for unknown numbers) and the compact renderings, which share a ring of
// eight small static buffers: a compact result stays valid through the
// next seven compact calls, so one output line may hold up to eight.
#pragma once

#include "platform/bytes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// An address as carried in replies and parameter records.  IPv4 uses word
// 0 only.  Addresses read from a reply hold each word in host order;
// vorel_parse_prefix leaves the parsed address in network order (callers
// convert it), while masks are always in host order.
//
// The firewall/NAT family calls it fwnat_addr, the session family
// msp_addr: one value under three names.
struct vorel_addr {
    uint32_t words[4] = {};
    uint8_t is_v6 = 0;
};

// On the wire: 16 bytes of words, the flag byte, 3 reserved bytes.
constexpr size_t VOREL_ADDR_WIRE_SIZE = 20;

// Reads the four big-endian words at off and the flag byte at off + 16.
// A short reply reads as zero and leaves the reader failed (r.ok()).
vorel_addr vorel_addr_read(const vorel::ByteReader &r, size_t off);
// A fixed record of N bytes at off of a reply, decoded: false (and *out
// left as a value-initialised record) when it is not all there.
template <size_t N, typename T>
bool vorel_record_read(const vorel::ByteReader &r, size_t off, T *out,
                       T (*decode)(const vorel::ByteBlock<N> &)) {
    vorel::ByteBlock<N> b;
    bool whole = r.block(off, b);
    *out = whole ? decode(b) : T{};
    return whole;
}

// The same from a fixed record: the address at Off of the block, its end
// checked against the record's size when the program is compiled.
template <size_t Off, size_t N> vorel_addr vorel_addr_decode(const vorel::ByteBlock<N> &b) {
    vorel::ByteBlock<VOREL_ADDR_WIRE_SIZE> a = b.template block<Off, VOREL_ADDR_WIRE_SIZE>();
    vorel_addr out;
    out.words[0] = a.template be32<0>();
    out.words[1] = a.template be32<4>();
    out.words[2] = a.template be32<8>();
    out.words[3] = a.template be32<12>();
    out.is_v6 = a.template u8<16>();
    return out;
}
// The address vorel_parse_prefix leaves in network order, in host order.
vorel_addr vorel_addr_to_host(const vorel_addr &network_order);
// Writes the words big-endian at off and the flag byte at off + 16.
void vorel_addr_write(vorel::ByteWriter &w, size_t off, const vorel_addr &a);

// The filter block of flow and session requests (88 bytes): source and
// destination prefixes and their masks (host order), ports, protocol,
// application, and a flag byte the firewall family uses and the session
// family leaves zero.
struct vorel_flow_filter {
    vorel_addr sprefix, smask, dprefix, dmask;
    uint16_t sport = 0, dport = 0, proto = 0;
    uint8_t alg = 0;
    uint8_t flag = 0;
};
constexpr size_t VOREL_FLOW_FILTER_SIZE = 88;
void vorel_flow_filter_write(vorel::ByteWriter &w, size_t off, const vorel_flow_filter &f);

// Family codes taken by prefix_value_to_string.
constexpr int VOREL_FAMILY_INET = 2;
constexpr int VOREL_FAMILY_INET6 = 6;

// The family code for a 32-bit family word that an agent sends beside an
// address: 2 is IPv4, any other nonzero value IPv6 (agents differ in
// which number they use for IPv6), 0 stays 0 (no address).
int vorel_wire_family(uint32_t family_word);

// Code-to-name converters; each returns a constant text.  Those of the flow
// tables' columns return it with its length (NUL-ended all the same).
const char *alg2str(int code);         // "???" for unknown codes
const char *qrtalg2str(int code);      // "???" for unknown codes
std::string_view proto2str(int proto); // unknown: "%d" into one static 4-byte buffer
std::string_view flowtype2str(int type);
std::string_view role2str(int role);
const char *msp_role2str(int role);
std::string_view dir2str(int dir);
// The ICMP detail of a flow row: no detail is shown, always "".
const char *icmpproto2str(int proto, int dst_port);

// 1 when the session engine handles the application code, else 0.
int vorel_alg_supported_on_msp(uint8_t code);

// Name-to-code converters for option values (exact, case-sensitive).
// Unknown application names give 62, unknown protocol names 0.
uint8_t vorel_application_protocol_string_to_uint8(const char *name);
uint8_t vorel_protocol_string_to_uint8(const char *name);

// "%u.%u.%u.%u" of a host-order IPv4 address, most significant byte
// first, into buf; returns buf.
char *ip2str(uint32_t addr, char *buf, size_t size);
// The address as text into buf (IPv6 in the standard full text, cut only
// when buf is too small); returns buf.
char *ipaddr_tostring(const vorel_addr *addr, char *buf, size_t size);
// The address as text in buf, NUL-ended: IPv6 (the standard full text) or
// IPv4 (word 0); the text, whose length the flow tables use.
constexpr size_t VOREL_ADDR_TEXT = 48;
std::string_view vorel_addr_text(const vorel_addr &addr, bool v6, char (&buf)[VOREL_ADDR_TEXT]);
// The address as text for family 2 (word 0) or 6 (all four words, at most
// 80 bytes of buf); returns 0.  Any other family leaves buf untouched and
// returns the family code.  Rows show the bare address: prefix_len is
// accepted for the callers' sake but not printed.
int prefix_value_to_string(int family, const vorel_addr *addr, int prefix_len, char *buf,
                           size_t size);

// Parses "ADDRESS[/LENGTH]" (IPv4 or IPv6) into addr (network order) and
// mask (host order); both are zeroed first, and an IPv6 address sets the
// flag of both.  Returns 1 with a length of 1..32 (IPv4) or 1..128 (IPv6);
// 0 for a bare address or a length of 0 (mask zero, no error shown); 0
// and an error element for text that is not such a prefix.
int vorel_parse_prefix(vorel_addr *addr, const char *text, vorel_addr *mask);

// The syntax every prefix value shares, "ADDRESS" or "ADDRESS/DIGITS":
// the address text copied into addr and the length's digits (null without
// a slash).  False for a null text, an address too long to be one, or a
// length that is empty or not all digits.  The callers parse the address
// and bound the length as their command says.
constexpr size_t VOREL_PREFIX_ADDR_TEXT = 64;
bool vorel_split_prefix(const char *text, char (&addr)[VOREL_PREFIX_ADDR_TEXT],
                        const char **digits);
// The top n bits of a word (n in 0..32; 32 and more give every bit),
// built without a 32-bit shift.
uint32_t vorel_top_bits(unsigned n);
// Parses "IPV4-ADDRESS[/LENGTH]" into addr (network order); returns the
// length (0 when none is given) or 0 after an error element.
int vorel_prefix_parse(uint32_t *addr, const char *text);

// A prefix filter's value ("ADDRESS/LENGTH", IPv4 or IPv6): the address in
// host order and the mask its length gives.  A filter must name a mask: a
// bare address or a length of 0 would leave it zero and match every flow,
// so the caller refuses it (no_mask, nothing reported yet) as it refuses
// text that is not a prefix (syntax, the parser has reported it: an error
// element in XML; the caller adds its own text-mode message).
enum class vorel_prefix_result { ok, syntax, no_mask };
vorel_prefix_result vorel_prefix_value(const char *value, vorel_addr *addr, vorel_addr *mask);

// Says that a prefix value was refused, in the parser's words: a line on
// standard error in text mode; in XML an error element unless the parser
// has written one already (say_in_xml false).
void vorel_prefix_refused(bool xml, bool say_in_xml);

// An option's IPv4 prefix value ("ADDRESS[/LENGTH]"): the address in host
// order and the length (0 for a bare address).  False for text that is not
// such a prefix, or no text: then the parser's message has been reported,
// as an error element in XML and on standard error in text.
bool vorel_option_prefix4(const char *value, uint32_t *addr, uint32_t *length);

// Where the prefix parsers report a syntax error: xml_error by default.
// Returns the previous reporter; null restores the default.
using vorel_prefix_error_fn = void (*)(const char *program, const char *message);
vorel_prefix_error_fn vorel_set_prefix_error_reporter(vorel_prefix_error_fn fn);
// Runs parse (a call of the prefix parsers above), their syntax errors
// reported as always (xml_error), and says whether one was: true, with the
// message in *message when it is given.
bool vorel_prefix_parse_failed(const std::function<void()> &parse, const char **message = nullptr);

// Compact renderings (into the shared ring, leading blanks skipped):
// counts as "5000.0", "5.0k", "5.0M"; tenths of a count; durations as
// "1d0h", "24h0m", "1m1s", "60s".
const char *vorel_numbers_convert(double v);
const char *vorel_treshold_convert(unsigned v);
const char *vorel_time_convert(unsigned seconds);

// 1 when the package is installed on PIC fpc/pic, else 0 (asked through
// the sibling command; names are matched whole).
int vorel_util_is_pkg_installed(unsigned fpc, unsigned pic, const char *pkg_name);
