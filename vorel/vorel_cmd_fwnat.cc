// The handler of "sfw", "nat" and "inline-stateful-firewall": its options,
// the choice of the action, and the lookup in cmd_handlers_table.
//
// -F, -w and -x take a keyword as their argument and consume the word after
// it as the keyword's value.  Keywords are compared on their own length
// (an argument that begins with the keyword names it).  An option whose
// value word is missing is refused with the option's own message where it
// has one (a prefix, a protocol, an address range) and is ignored
// otherwise.
#include "vorel/vorel_cmd_fwnat.h"
#include "platform/addr.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

namespace {

constexpr const char *kBadPort = "Invalid arguments. Ports are allowed between 1024 and 65535";
constexpr unsigned long kLowestPort = 1024;
constexpr unsigned long kHighestPort = 65535;

// Range refusals, printed as they are before the exit.
constexpr const char *kAddressInvalid = "address is invalid\n";
constexpr const char *kAllZero = "IPv4 address 0.0.0.0/0 or IPv6 address 0::0/0 is not allowed.\n";
constexpr const char *kV4Length = "Only prefix length <=32 (2^32 addresses) can be specified\n";
constexpr const char *kV6Length = "Only prefix length >= 96 and <=128 can be specified\n";
constexpr const char *kSubscriberV4 =
    "Only V4 address should be specified with subscriber/internal-host\n";
constexpr const char *kSoftwireV6 = "B4address should be V6 address\n";
constexpr const char *kInternalHostNeeded =
    "Internal-host must be specified along with B4address and port\n";

bool keyword_is(const char *arg, const char *keyword) {
    return arg && std::strncmp(arg, keyword, std::strlen(keyword)) == 0;
}

[[noreturn]] void refuse(const char *line) {
    vorel_user_message("%s", line);
    vorel_exit(1);
}

// ---------------------------------------------------------------------------
// -F

// A -F prefix: an address with a length.  Text that is not a prefix is
// reported by the parser (its error element in XML); a bare address or /0
// would go out with a zero mask that matches every flow (a drain would
// remove them all), so it is refused with the same text.  In text mode the
// refusal is a line on standard error.
int parse_filter_prefix(const vorel_ctx *ctxt, const char *value, fwnat_addr *addr,
                        fwnat_addr *mask) {
    vorel_addr a{}, m{};
    vorel_prefix_result parsed = vorel_prefix_value(value, &a, &m);
    if (parsed != vorel_prefix_result::ok) {
        vorel_prefix_refused(ctxt->xml != 0, parsed == vorel_prefix_result::no_mask);
        return -1;
    }
    *addr = a;
    *mask = m;
    return 0;
}

[[noreturn]] void unknown_protocol(const char *value) {
    vorel_user_message("vorel: unknown protocol: %s \n", vorel_str_or_null(value));
    vorel_exit(1);
}

// A number keeps its low byte (300 gives 44); a name is looked up.
uint16_t parse_protocol(const char *value) {
    int number = 0;
    if (value && std::sscanf(value, "%d", &number) == 1)
        return static_cast<uint8_t>(number);
    uint8_t proto = vorel_protocol_string_to_uint8(value);
    if (proto == 0)
        unknown_protocol(value);
    return proto;
}

int parse_filter(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *p) {
    const char *keyword = vorel_optarg;
    const char *value = vorel_getopt_next_word(argc, argv);

    fwnat_addr *prefix = nullptr, *mask = nullptr;
    uint16_t *port = nullptr;
    if (keyword_is(keyword, "sprefix")) {
        prefix = &p->sprefix;
        mask = &p->smask;
    } else if (keyword_is(keyword, "dprefix")) {
        prefix = &p->dprefix;
        mask = &p->dmask;
    } else if (keyword_is(keyword, "sport")) {
        port = &p->sport;
    }
    if (keyword_is(keyword, "dport"))
        port = &p->dport;
    bool protocol = false, application = false;
    if (keyword_is(keyword, "proto"))
        protocol = true;
    else if (keyword_is(keyword, "alg"))
        application = true;
    else if (keyword_is(keyword, "pgcp") && value)
        p->pgcp = true;

    if (prefix)
        return parse_filter_prefix(ctxt, value, prefix, mask);
    if (protocol && !value)
        unknown_protocol(value);
    if (!value)
        return 0;
    if (port) {
        *port = static_cast<uint16_t>(std::atoi(value));
    } else if (protocol) {
        p->proto = parse_protocol(value);
    } else if (application) {
        p->alg = vorel_application_protocol_string_to_uint8(value);
        p->alg_id = p->alg;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// -w

void parse_b4_address(const char *value, fwnat_params *p) {
    ipaddr_t ip;
    p->b4_addr = fwnat_addr{};
    if (value && parse_ipaddr(value, &ip) && ip.family == AF_INET6) {
        vorel::ByteReader r(ip.addr, sizeof ip.addr);
        for (int i = 0; i < 4; i++)
            p->b4_addr.words[i] = r.be32(4 * i);
    } else {
        vorel_user_message("%s", kAddressInvalid);
    }
    p->b4_addr.is_v6 = 1;
}

void parse_softwire_option(int argc, char **argv, fwnat_params *p) {
    const char *keyword = vorel_optarg;
    const char *value = vorel_getopt_next_word(argc, argv);
    switch (keyword ? keyword[0] : '\0') {
    case 'i':
        if (value)
            p->detail = true;
        break;
    case 'e':
        if (value)
            p->detail = false;
        break;
    case 'a':
        parse_b4_address(value, p);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// -x

enum class x_kind { range, svc_set, port };

struct x_keyword {
    const char *keyword;
    x_kind kind;
    fwnat_range_target target;
    int mapping_kind; // -1: unchanged
};

const x_keyword x_keywords[] = {
    {"app_subs_ip", x_kind::range, fwnat_range_target::subscriber, 1},
    {"app_sw_ip", x_kind::range, fwnat_range_target::softwire, 1},
    {"app_svc_set", x_kind::svc_set, fwnat_range_target::nat, 1},
    {"eim_subs_ip", x_kind::range, fwnat_range_target::subscriber, 2},
    {"eim_sw_ip", x_kind::range, fwnat_range_target::softwire, 2},
    {"eim_subs_port", x_kind::port, fwnat_range_target::nat, -1},
    {"eim_svc_set", x_kind::svc_set, fwnat_range_target::nat, 2},
    {"pcp_subs_ip", x_kind::range, fwnat_range_target::subscriber, 3},
    {"pcp_sw_ip", x_kind::range, fwnat_range_target::softwire, 3},
    {"pcp_subs_port", x_kind::port, fwnat_range_target::nat, -1},
    {"pcp_svc_set", x_kind::svc_set, fwnat_range_target::nat, 3},
    {"nat_ip", x_kind::range, fwnat_range_target::nat, -1},
    {"flows_subs_ip", x_kind::range, fwnat_range_target::subscriber, -1},
    {"flows_sw_ip", x_kind::range, fwnat_range_target::softwire, -1},
};

void store_range(const x_keyword &k, const char *value, fwnat_params *p) {
    fwnat_range range;
    const char *refusal = nullptr;
    if (!fwnat_parse_range(value, k.target, &range, &refusal))
        refuse(refusal);
    switch (k.target) {
    case fwnat_range_target::subscriber:
        p->subs_range = range;
        p->subs_given = true;
        break;
    case fwnat_range_target::softwire:
        p->sw_range = range;
        p->sw_given = true;
        break;
    case fwnat_range_target::nat:
        p->nat_range = range;
        p->nat_given = true;
        break;
    }
}

void parse_mapping_filter(int argc, char **argv, fwnat_params *p) {
    const char *keyword = vorel_optarg;
    const char *value = vorel_getopt_next_word(argc, argv);
    for (const x_keyword &k : x_keywords) {
        if (!keyword_is(keyword, k.keyword))
            continue;
        if (k.kind == x_kind::range) {
            store_range(k, value, p); // a missing address is an invalid one
        } else if (!value) {
            return;
        } else if (k.kind == x_kind::svc_set) {
            p->svc_set_name = value;
        } else {
            p->subs_port = static_cast<uint16_t>(std::atoi(value));
            p->port_given = true;
        }
        if (k.mapping_kind >= 0)
            p->mapping_kind = static_cast<uint8_t>(k.mapping_kind);
        return;
    }
}

// ---------------------------------------------------------------------------
// Range values

// "ADDRESS" or "ADDRESS/LENGTH"; *length is -1 without a length.  The
// length is read here so that a length beyond the family's width gets its
// own message rather than the syntax error.
bool split_range_text(const char *text, ipaddr_t *ip, int *length) {
    *length = -1;
    char address[VOREL_PREFIX_ADDR_TEXT];
    const char *digits = nullptr;
    if (!vorel_split_prefix(text, address, &digits) || !parse_ipaddr(address, ip))
        return false;
    if (!digits)
        return true;
    if (std::strlen(digits) > 3)
        return false;
    *length = std::atoi(digits);
    return true;
}

bool all_zero(const ipaddr_t &ip) {
    for (uint8_t b : ip.addr)
        if (b)
            return false;
    return true;
}

} // namespace

bool fwnat_parse_range(const char *text, fwnat_range_target target, fwnat_range *out,
                       const char **refusal) {
    ipaddr_t ip;
    int length = -1;
    if (!split_range_text(text, &ip, &length)) {
        *refusal = kAddressInvalid;
        return false;
    }
    if (all_zero(ip)) {
        *refusal = kAllZero;
        return false;
    }
    const bool v6 = ip.family == AF_INET6;
    if (length >= 0 && !v6 && length > 32) {
        *refusal = kV4Length;
        return false;
    }
    if (length >= 0 && v6 && (length < 96 || length > 128)) {
        *refusal = kV6Length;
        return false;
    }
    if (target == fwnat_range_target::subscriber && v6) {
        *refusal = kSubscriberV4;
        return false;
    }
    if (target == fwnat_range_target::softwire && !v6) {
        *refusal = kSoftwireV6;
        return false;
    }

    // Without a length the range is the one address.
    const unsigned bits = length >= 0 ? unsigned(length) : (v6 ? 128u : 32u);
    fwnat_range r;
    vorel::ByteReader words(ip.addr, sizeof ip.addr);
    const int used = v6 ? 4 : 1;
    for (int i = 0; i < used; i++) {
        r.start.words[i] = words.be32(4 * i);
        unsigned covered = 32u * unsigned(i);
        r.mask.words[i] = vorel_top_bits(bits > covered ? bits - covered : 0);
        // The last address is the start with every host bit set: it can
        // neither wrap nor fall before the start.
        r.end.words[i] = r.start.words[i] | ~r.mask.words[i];
    }
    r.prefix_len = static_cast<uint8_t>(bits);
    // Subscriber ranges are IPv4 and softwire ranges IPv6 by now; a NAT
    // range keeps its own family.
    const uint8_t flag = v6 ? 1 : 0;
    r.start.is_v6 = r.end.is_v6 = r.mask.is_v6 = flag;
    *out = r;
    return true;
}

// ---------------------------------------------------------------------------
// Parameters

void fwnat_params_init(fwnat_params *params) {
    *params = fwnat_params{};
}

void fwnat_params_free(fwnat_params *params) {
    params->action.reset();
    params->natpool.reset();
    params->svc_set_name.reset();
    params->if_name.reset();
    params->command.reset();
    params->subcommand.reset();
}

namespace {

void parse_port_text(const vorel_ctx *ctxt, const char *text, fwnat_params *p) {
    p->nat_port_text = text;
    unsigned long port = std::strtoul(text, nullptr, 10);
    if (port >= kLowestPort && port <= kHighestPort)
        return;
    if (ctxt->xml)
        vorel_xml_error(1, "%s", kBadPort);
    else
        std::printf("vorel: %s", kBadPort);
    vorel_exit(1);
}

void parse_view(const char *word, fwnat_params *p) {
    switch (word[0]) {
    case 't':
        p->detail = false;
        break;
    case 'b':
        p->detail = false;
        p->stats_subcmd = FWNAT_STATS_BRIEF;
        break;
    case 'x':
        p->detail = true;
        p->stats_subcmd = FWNAT_STATS_EXTENSIVE;
        break;
    case 'd':
        p->stats_subcmd = FWNAT_STATS_DETAIL;
        break;
    case 's':
        p->stats_subcmd = FWNAT_STATS_SUMMARY;
        break;
    default:
        break;
    }
}

} // namespace

bool fwnat_common_option(int c, fwnat_params *p) {
    return vorel_command_and_interface_option(c, p);
}

int fwnat_parse_options(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (fwnat_common_option(c, p))
            continue;
        switch (c) {
        case 'B':
            p->backup_pic = true;
            break;
        case 'E':
            p->nat_ip_text = vorel_optarg;
            break;
        case 'F':
            if (parse_filter(argc, argv, ctxt, p) < 0)
                return -1;
            break;
        case 'H':
            p->subcommand = vorel_optarg;
            break;
        case 'I':
            p->internal_host = vorel_optarg;
            break;
        case 'L':
            p->limit = std::atoi(vorel_optarg);
            break;
        case 'N':
            p->natpool = vorel_optarg;
            break;
        case 'P':
            parse_port_text(ctxt, vorel_optarg, p);
            break;
        case 'V':
            parse_view(vorel_optarg, p);
            break;
        case 'c':
            p->countonly = true;
            break;
        case 'd':
            p->detail = true;
            break;
        case 's':
            p->svc_set_name = vorel_optarg;
            break;
        case 'w':
            parse_softwire_option(argc, argv, p);
            break;
        case 'x':
            parse_mapping_filter(argc, argv, p);
            break;
        default:
            break;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Action selection

namespace {

constexpr uint8_t kSfw = 1, kIsfw = 2, kNat = 4;

// What goes with an action besides its name: the view (unset: -V's choice
// stays), once per PIC, and whether clearing mappings by softwire address
// and port needs the internal host.
struct selection_settings {
    std::optional<int32_t> stats_subcmd = {};
    bool pic_based = false;
    bool needs_internal_host = false;
    auto fields() { return std::tie(stats_subcmd, pic_based, needs_internal_host); }
};
// The commands a row applies to and the count flag it wants.
struct selection_when {
    uint8_t commands;
    bool countonly;
};
using selection_row = vorel_subcommand<selection_settings, selection_when>;

const selection_row selection[] = {
    {"flows", "count_flow", {}, {kSfw, true}},
    {"flows", "count_flow", {}, {kIsfw, true}},
    {"flows", "dump_flow", {}, {kIsfw, false}},
    {"flows", "dump_flow", {}, {kSfw, false}},
    {"clear_flows", "drain_flow", {}, {kSfw, false}},
    {"clear_flows", "drain_flow", {}, {kIsfw, false}},
    {"conversations", "dump_conv", {}, {kSfw, false}},
    {"sip-call", "dump_sip_call", {}, {kSfw, false}},
    {"sip-call", "count_sip_call", {}, {kSfw, true}},
    {"clear_sip_call", "drain_sip_call", {}, {kSfw, false}},
    {"sip-reg", "dump_sip_reg", {}, {kSfw, false}},
    {"sip-reg", "count_sip_reg", {}, {kSfw, true}},
    {"clear_sip_reg", "drain_sip_reg", {}, {kSfw, false}},
    {"stats", "dump_stats", {}, {kSfw, false}},
    {"hdr_err", "dump_hdr_err", {}, {kSfw, false}},
    {"clear_stats_hdr_err", "clear_stats_hdr_err", {FWNAT_STATS_CLEAR}, {kSfw, false}},
    {"stats", "dump_stats", {}, {kIsfw, false}},
    {"ha-stats", "dump_ha_stats", {}, {kSfw, false}},
    {"alg", "dump_stats", {}, {kSfw, false}},
    {"clear_stats", "clear_stats", {FWNAT_STATS_CLEAR}, {kSfw | kIsfw, false}},
    {"pool", "dump_natpool", {}, {kNat, false}},
    {"mappingsv2-app", "dump_natmappingv2", {FWNAT_MAPPINGS_APP}, {kNat, false}},
    {"mappingsv2-eim", "dump_natmappingv2", {FWNAT_MAPPINGS_EIM}, {kNat, false}},
    {"mappingsv2-pcp", "dump_natmappingv2", {FWNAT_MAPPINGS_PCP}, {kNat, false}},
    {"mappingsv2-summary", "dump_natmappingv2", {FWNAT_MAPPINGS_SUMMARY, true}, {kNat, false}},
    {"mapping-brief", "dump_natmappingv2", {FWNAT_STATS_BRIEF}, {kNat, false}},
    {"mapping-detail", "dump_natmappingv2", {FWNAT_STATS_DETAIL}, {kNat, false}},
    {"stats", "dump_natstatistics", {{}, true}, {kNat, false}},
    {"clear_stats", "clear_natstatistics", {{}, true}, {kNat, false}},
    {"flow-analysis", "flow_analysis", {FWNAT_STATS_SUMMARY}, {kSfw, false}},
    {"clear-flow-analysis", "clear_flow_analysis", {FWNAT_STATS_CLEAR, true}, {kSfw, false}},
    {"detnat", "dump_detnat", {FWNAT_STATS_SUMMARY}, {kNat, false}},
    {"subs-analysis", "subs_analysis", {FWNAT_STATS_SUMMARY}, {kSfw, false}},
    {"clear-subs-analysis", "clear_subs_analysis", {FWNAT_STATS_CLEAR, true}, {kSfw, false}},
    {"mapping-nptv6", "nptv6_addr_mapping", {FWNAT_MAPPINGS_NPTV6}, {kNat, false}},
    {"clear_mappings", "clear_natmappings", {{}, false, true}, {kNat, false}},
    {"clear_nat_flows", "clear_natflows", {}, {kNat, false}},
};

bool command_is(const fwnat_params *p, uint8_t commands) {
    return ((commands & kSfw) && vorel_text_is(p->command, "sfw")) ||
           ((commands & kIsfw) && vorel_text_is(p->command, "inline-stateful-firewall")) ||
           ((commands & kNat) && vorel_text_is(p->command, "nat"));
}

// The row the command words choose.
const selection_row *row_of_words(const fwnat_params *p) {
    return vorel_subcommand_find(selection, p->subcommand, [p](const selection_when &w) {
        return w.countonly == p->countonly && command_is(p, w.commands);
    });
}

void apply_row(const selection_settings &row, fwnat_params *p) {
    if (row.stats_subcmd)
        p->stats_subcmd = *row.stats_subcmd;
    if (row.pic_based)
        p->pic_based = true;
    if (row.needs_internal_host && p->sw_given && p->port_given && !p->subs_given)
        refuse(kInternalHostNeeded);
}

// The settings that go with an action that -A named: those of the row the
// command words would have chosen; without such a row, only the settings
// every row of the action shares (the view of an action that several
// sub-commands name is then left to -V and the other options).
std::optional<selection_settings> settings_of_named_action(const fwnat_params *p) {
    const selection_row *row = row_of_words(p);
    if (row && vorel_text_is(p->action, row->action))
        return row->settings;
    return vorel_subcommand_shared(selection, *p->action);
}

} // namespace

void fwnat_choose_action(fwnat_params *p) {
    if (p->action) {
        if (std::optional<selection_settings> shared = settings_of_named_action(p))
            apply_row(*shared, p);
    } else if (const selection_row *row = row_of_words(p)) {
        p->action = row->action;
        apply_row(row->settings, p);
    }
    if (p->stats_subcmd == FWNAT_STATS_SUMMARY)
        p->pic_based = true;
}

// ---------------------------------------------------------------------------
// The handler

namespace {

void trace_params(int argc, char **argv, const fwnat_params &p) {
    if (!debug)
        return;
    vorel_trace_arguments(argc, argv);
    std::printf("vorel: command: %s, subcommand: %s stats_subcmd: %d \n",
                vorel_str_or_null(vorel_text(p.command)),
                vorel_str_or_null(vorel_text(p.subcommand)), p.stats_subcmd);
    std::printf("vorel: srv_set_name: %s, interface_name: %s,\n",
                vorel_str_or_null(vorel_text(p.svc_set_name)),
                vorel_str_or_null(vorel_text(p.if_name)));
    std::printf("vorel: fwnat action=%s , limit=%d, detail=%s, natpool=%s\n",
                vorel_str_or_null(vorel_text(p.action)), p.limit, p.detail ? "TRUE" : "FALSE",
                vorel_str_or_null(vorel_text(p.natpool)));
    std::printf("vorel: fwnat sprefix: addr: %x, mask:%x, sport: %d\n", p.sprefix.words[0],
                p.smask.words[0], p.sport);
    std::printf("vorel: fwnat dprefix: addr: %x, mask: %x, dport: %d \n", p.dprefix.words[0],
                p.dmask.words[0], p.dport);
    std::printf("vorel: countonly: %s\n", p.countonly ? "TRUE" : "FALSE");
}

} // namespace

int vorel_handle_fwnat_command(int argc, char **argv, vorel_ctx *ctxt) {
    fwnat_params p;
    fwnat_params_init(&p);
    if (fwnat_parse_options(argc, argv, ctxt, &p) < 0) {
        fwnat_params_free(&p);
        return -1;
    }
    fwnat_choose_action(&p);
    trace_params(argc, argv, p);
    int rc = -1;
    if (!p.action) {
        vorel_user_message("vorel: fwnat handler don't know what to do\n%s",
                           vorel_argument_echo(argc, argv).c_str());
    } else {
        bool ran = false;
        rc = fwnat_run_named_action(ctxt, &p, &ran);
        if (!ran)
            vorel_user_message("vorel: fwnat handler unknown action: %s \n", vorel_text(p.action));
    }
    fwnat_params_free(&p);
    return rc;
}

void fwnat_parse_b4_address(const char *value, fwnat_params *params) {
    parse_b4_address(value, params);
}
