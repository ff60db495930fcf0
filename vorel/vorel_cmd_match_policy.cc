// -C match_policy: which stateful-firewall rule and which NAT rule of each
// service set would match one packet (source and destination address and
// port, protocol), in the input and the output direction, with the rules'
// terms, actions, address lists and timeouts.  The answer exists only in
// XML.
#include "vorel/vorel_cmd_match_policy.h"

#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_plugins.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

size_t mask_words(const vorel_addr &a) {
    return a.is_v6 ? 4 : 1;
}

} // namespace

bool match_policy_mask_is_zero(const match_policy_mask &m) {
    for (size_t i = 0; i < mask_words(m.value); i++) {
        uint32_t w = m.wildcard ? ~m.value.words[i] : m.value.words[i];
        if (w != 0)
            return false;
    }
    return true;
}

int match_policy_mask_length(const match_policy_mask &m) {
    int length = 0;
    for (size_t i = 0; i < mask_words(m.value); i++) {
        // The host bits, set: a wildcard mask holds them as stored.
        uint32_t host = m.wildcard ? m.value.words[i] : ~m.value.words[i];
        length += 32 - std::countr_one(host);
    }
    return length;
}

namespace {

enum match_filter_bits : uint8_t {
    GIVEN_SPREFIX = 1 << 0,
    GIVEN_DPREFIX = 1 << 1,
    GIVEN_SPORT = 1 << 2,
    GIVEN_DPORT = 1 << 3,
    GIVEN_PROTO = 1 << 4,
    GIVEN_ALL = 0x1f,
};

enum match_direction : uint8_t { DIR_BOTH = 0, DIR_INPUT = 1, DIR_OUTPUT = 2 };

struct match_policy_params {
    std::optional<std::string> action;
    std::optional<std::string> srv_set_name;
    uint16_t dport = 0;
    uint16_t sport = 0;
    uint16_t proto = 0;
    uint8_t direction = DIR_BOTH;
    vorel_addr sprefix, smask, dprefix, dmask; // addresses in host order
    uint8_t result_count = 0;                  // 0: no limit
    uint8_t given = 0;
};

// ---------------------------------------------------------------------------
// Command line

void print_usage() {
    vorel_user_message("show services match-policies\n"
                       "destination-ip <ip-address>\n"
                       "destination-port <port-number>\n"
                       "source-ip <ip-address>\n"
                       "source-port <port-number>\n"
                       "protocol <protocol-name | protocol-number>\n"
                       "service-set [service-set-name]\n"
                       "result-count [result-number]\n"
                       "match-direction [input|output]\n");
}

// The first pass: everything but the filters.  -F and its value word are
// passed over here.
void parse_options(int argc, char **argv, const vorel_ctx *ctxt, match_policy_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'S':
            p->action = vorel_optarg;
            break;
        case 's':
            p->srv_set_name = vorel_optarg;
            break;
        case 'V':
            if (vorel_optarg[0] == 'i')
                p->direction = DIR_INPUT;
            else if (vorel_optarg[0] == 'o')
                p->direction = DIR_OUTPUT;
            else
                p->direction = DIR_BOTH;
            break;
        case 'F':
            vorel_getopt_next_word(argc, argv);
            break;
        default:
            break;
        }
    }
}

// A prefix filter; false after a syntax error, which the parser reports (an
// error element; in text mode a line on standard error).  A bare address is
// a valid filter: only the address is sent.
bool parse_prefix(const vorel_ctx *ctxt, const char *value, vorel_addr *addr, vorel_addr *mask) {
    vorel_addr a{}, m{};
    const char *prefix_error = nullptr;
    if (vorel_prefix_parse_failed([&] { vorel_parse_prefix(&a, value, &m); }, &prefix_error)) {
        if (!ctxt->xml)
            vorel_note_failure("%s", prefix_error);
        return false;
    }
    *addr = vorel_addr_to_host(a);
    *mask = m;
    return true;
}

uint8_t parse_protocol(const char *value) {
    int number;
    if (std::sscanf(value, "%d", &number) == 1)
        return static_cast<uint8_t>(number);
    uint8_t proto = vorel_protocol_string_to_uint8(value);
    if (proto == 0) {
        vorel_user_message("Error! unknown protocol: %s \n", value);
        vorel_exit(1);
    }
    return proto;
}

bool keyword_is(const char *keyword, const char *name) {
    return std::strncmp(keyword, name, std::strlen(name)) == 0;
}

// The second pass: every word "-FKEYWORD" and the word after it.  False
// when a filter's value is missing or does not parse.
bool parse_filters(int argc, char **argv, const vorel_ctx *ctxt, match_policy_params *p) {
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], "-F", 2) != 0)
            continue;
        const char *keyword = argv[i] + 2;
        if (i + 1 >= argc) {
            vorel_note_failure("match_policy: -F%s needs a value", keyword);
            return false;
        }
        const char *value = argv[++i];
        if (keyword_is(keyword, "sprefix")) {
            if (!parse_prefix(ctxt, value, &p->sprefix, &p->smask))
                return false;
            p->given |= GIVEN_SPREFIX;
        } else if (keyword_is(keyword, "dprefix")) {
            if (!parse_prefix(ctxt, value, &p->dprefix, &p->dmask))
                return false;
            p->given |= GIVEN_DPREFIX;
        } else if (keyword_is(keyword, "sport")) {
            p->sport = static_cast<uint16_t>(std::atoi(value));
            p->given |= GIVEN_SPORT;
        } else if (keyword_is(keyword, "dport")) {
            p->dport = static_cast<uint16_t>(std::atoi(value));
            p->given |= GIVEN_DPORT;
        } else if (keyword_is(keyword, "result")) {
            p->result_count = static_cast<uint8_t>(std::atoi(value));
        } else if (keyword_is(keyword, "proto")) {
            p->proto = parse_protocol(value);
            p->given |= GIVEN_PROTO;
        }
        // An unknown keyword takes its value word all the same.
    }
    return true;
}

// ---------------------------------------------------------------------------
// The request

constexpr size_t kRequestSize = 68;

struct match_phase {
    bool nat;
    uint8_t direction;
    uint16_t request, request_version;
    uint16_t reply, reply_version;
};
constexpr match_phase kPhases[] = {
    {false, DIR_INPUT, 273, 2, 274, 4},
    {false, DIR_OUTPUT, 273, 2, 274, 4},
    {true, DIR_INPUT, 271, 1, 272, 3},
    {true, DIR_OUTPUT, 271, 1, 272, 3},
};

void write_address(vorel::ByteWriter &w, size_t off, const vorel_addr &a) {
    for (size_t i = 0; i < 4; i++)
        w.be32(off + 4 * i, a.words[i]);
}

vorel::ByteWriter match_request(const match_phase &phase, const svc_set_info &ss,
                                const match_policy_params &p) {
    vorel::ByteWriter w = vorel_request(phase.request, phase.request_version, kRequestSize, ss.id);
    w.u8(8, ss.style);
    w.be16(20, p.sport);
    w.be16(22, p.dport);
    w.u8(24, static_cast<uint8_t>(p.proto));
    w.u8(25, phase.direction);
    write_address(w, 28, p.sprefix);
    w.u8(44, p.sprefix.is_v6);
    write_address(w, 48, p.dprefix);
    return w;
}

// ---------------------------------------------------------------------------
// The reply: a policy record at 20

constexpr size_t kRecordOffset = 20;
constexpr size_t kListEntrySize = 20;
constexpr size_t kAddrTextLen = 64;
constexpr size_t kListEntries = 100;
constexpr size_t kRecordSize = 10408 + kListEntries * kListEntrySize;
constexpr size_t kReplySize = kRecordOffset + kRecordSize; // 12428

// Offsets within the record.
constexpr size_t kTimeout = 0;
constexpr size_t kDirection = 4;
constexpr size_t kSrcPool = 5, kSrcPoolWidth = 128;
constexpr size_t kDstPool = 133, kDstPoolWidth = 64;
constexpr size_t kSrcNatType = 197, kDstNatType = 198;
constexpr size_t kRule = 264, kTerm = 328, kNameWidth = 64;
constexpr size_t kSfwAction = 393, kAlg = 394, kEnabled = 395;
constexpr size_t kSrcAny = 396, kDstAny = 397, kDportAny = 399;
constexpr size_t kSrcCount = 400, kDstCount = 401;
constexpr size_t kDportLow = 402, kDportHigh = 404;

struct address_lists {
    size_t addr, mask, high;
};
constexpr address_lists kSrcLists{408, 2408, 4408};
constexpr address_lists kDstLists{6408, 8408, 10408};

// The name of a NAT translation type; null for a value without one (the
// session family's table answers "invalid" for those).
const char *nat_type2str(uint8_t type) {
    const char *name = vorel_nat_translation_type2str(type);
    return std::strcmp(name, "invalid") == 0 ? nullptr : name;
}

const char *sfw_action2str(uint8_t action) {
    switch (action) {
    case 1:
        return "permit";
    case 2:
        return "deny";
    case 3:
        return "reject";
    default:
        return nullptr;
    }
}

vorel_addr entry_address(const vorel::ByteReader &rec, size_t list, size_t i) {
    return vorel_addr_read(rec, list + i * kListEntrySize);
}

void render_addresses(const vorel::ByteReader &rec, const char *title, const char *element,
                      size_t any_off, size_t count_off, const address_lists &lists) {
    xml_send_all(title, "%s", ":");
    if (rec.u8(any_off)) {
        xml_send_all(element, "%s", "Any");
        return;
    }
    size_t n = std::min<size_t>(rec.u8(count_off), kListEntries);
    for (size_t i = 0; i < n; i++) {
        vorel_addr addr = entry_address(rec, lists.addr, i);
        match_policy_mask mask{entry_address(rec, lists.mask, i),
                               rec.u8(lists.mask + i * kListEntrySize + 17) != 0};
        char text[kAddrTextLen];
        ipaddr_tostring(&addr, text, sizeof text);
        if (match_policy_mask_is_zero(mask)) {
            vorel_addr high = entry_address(rec, lists.high, i);
            char high_text[kAddrTextLen];
            ipaddr_tostring(&high, high_text, sizeof high_text);
            xml_send_all(element, "low %s high %s", text, high_text);
        } else {
            xml_send_all(element, "%s/%d", text, match_policy_mask_length(mask));
        }
    }
}

void render_nat_action(uint8_t type, std::string_view pool) {
    const char *name = nat_type2str(type);
    if (name)
        xml_send_all("policy-action", "%s pool %.*s", name, static_cast<int>(pool.size()),
                     pool.data());
}

void render_policy(const vorel::ByteReader &rec, bool nat, const asp_info &asp,
                   const svc_set_info &ss, const match_policy_params &p) {
    std::string_view rule = rec.text(kRule, kNameWidth);
    std::string_view term = rec.text(kTerm, kNameWidth);
    xml_send_open("services-match-policies");
    xml_send_all("policy-match", "%s: service-set:%.*s rule:%.*s term:%.*s", nat ? "NAT" : "SFW",
                 static_cast<int>(strnlen(ss.name, sizeof ss.name)), ss.name,
                 static_cast<int>(rule.size()), rule.data(), static_cast<int>(term.size()),
                 term.data());
    xml_send_all("policy-direction", "%s, interface:%s",
                 rec.u8(kDirection) == DIR_INPUT ? "input" : "output", asp.name);
    if (nat) {
        render_nat_action(rec.u8(kSrcNatType), rec.text(kSrcPool, kSrcPoolWidth));
        render_nat_action(rec.u8(kDstNatType), rec.text(kDstPool, kDstPoolWidth));
    } else if (const char *action = sfw_action2str(rec.u8(kSfwAction))) {
        xml_send_all("policy-action", "%s", action);
    }
    xml_send_all("policy-state", "%s", rec.u8(kEnabled) ? "Enabled" : "Disabled");
    render_addresses(rec, "source-address-title", "source-address", kSrcAny, kSrcCount, kSrcLists);
    render_addresses(rec, "destination-address-title", "destination-address", kDstAny, kDstCount,
                     kDstLists);
    xml_send_all("application-type", "%s", alg2str(rec.u8(kAlg)));
    xml_send_all("ip-protocol", "%s", proto2str(p.proto).data());
    xml_send_all("policy-timeout", "Inactivity Timeout: %u", rec.be32(kTimeout));
    if (rec.u8(kDportAny))
        xml_send_all("destination-port", "%s", "[Any]\n");
    else
        xml_send_all("destination-port", "[%u-%u]\n", rec.be16(kDportLow), rec.be16(kDportHigh));
    xml_send_close("services-match-policies");
}

void no_match(const char *text) {
    xml_send_open("services-match-policies");
    xml_send_all("policy-match", "%s", text);
    xml_send_close("services-match-policies");
}

// ---------------------------------------------------------------------------
// The lookup

// The four phases for one service set; the number of replies received.
unsigned lookup_svc_set(services_ui_conn *conn, const asp_info &asp, const svc_set_info &ss,
                        const match_policy_params &p) {
    unsigned replies = 0;
    bool sfw_reply = false, last_was_nat = false;
    for (const match_phase &phase : kPhases) {
        if (p.direction != DIR_BOTH && p.direction != phase.direction)
            continue;
        if (vorel_send(conn, match_request(phase, ss, p)) < 0)
            return replies;
        for (;;) {
            vorel::ByteReader reply = vorel_receive_at_least(
                conn, phase.reply, phase.reply_version, kReplySize, asp.name, short_reply::skip);
            if (reply.empty())
                break;
            if (phase.nat && !sfw_reply)
                no_match("SFW No match found");
            vorel::ByteReader rec = reply.sub(kRecordOffset, kRecordSize);
            render_policy(rec, phase.nat, asp, ss, p);
            replies++;
            sfw_reply = sfw_reply || !phase.nat;
            last_was_nat = phase.nat;
        }
        if (phase.nat && phase.direction == DIR_OUTPUT && sfw_reply && !last_was_nat)
            no_match("NAT No match found");
    }
    return replies;
}

// Every service set of kind 0 (only the one named with -s when given).
pic_loop match_policy_svc_set_loop(const match_policy_params &p) {
    const char *name = p.srv_set_name ? p.srv_set_name->c_str() : nullptr;
    return [name](services_ui_conn *c, asp_info *asp, const pic_query_fn &query) {
        for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (name && std::strncmp(ss->name, name, SVC_SET_NAME_LEN) != 0)
                continue;
            if (ss->kind != 0)
                continue;
            if (query(c, asp, ss) < 0)
                return -1;
        }
        return 0;
    };
}

void match_policy_lookup(const vorel_ctx *ctxt, const match_policy_params &p) {
    if (ctxt->xml)
        xml_subtree_open("services-match-policies-information", {xml_attr_xmlns()});
    unsigned matches = 0;
    pic_walk walk;
    walk.open_channel = vorel_open_pic_xml_error;
    walk.on_open_failure = open_failure::skip_pic;
    walk.loop = match_policy_svc_set_loop(p);
    // A result limit that is reached stops the walk after the service set
    // that reached it (whose matches are all shown).
    vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        matches += lookup_svc_set(c, *asp, *ss, p);
        return p.result_count != 0 && matches >= p.result_count ? -1 : 0;
    });
    if (ctxt->xml) {
        if (matches == 0)
            no_match("SFW/NAT No match found");
        xml_subtree_close();
        xml_subtree_once();
    }
}

} // namespace

int vorel_handle_match_policy_command(int argc, char **argv, vorel_ctx *ctxt) {
    match_policy_params p;
    parse_options(argc, argv, ctxt, &p);
    if (!parse_filters(argc, argv, ctxt, &p) || !p.action || p.given != GIVEN_ALL) {
        print_usage();
        return -1;
    }
    vorel_xml_only_view(ctxt, "the policy match view");
    match_policy_lookup(ctxt, p);
    return 0;
}
