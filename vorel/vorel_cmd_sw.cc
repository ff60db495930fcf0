// The softwire commands' command lines, the actions their words select and
// the action tables.
#include "vorel/vorel_cmd_sw.h"

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
#include <span>

const softwire_action softwire_cmd_handlers_table[] = {
    {"count_softwire", softwire_count_open, softwire_count_close, softwire_count_query},
    {"count_softwire_tunnel", softwire_tunnel_count_open, softwire_tunnel_count_close,
     softwire_tunnel_count_query},
    {"dump_softwire", softwire_dump_open, softwire_dump_close, softwire_dump_query},
    {"dump_softwire_flows", softwire_dump_open, softwire_dump_close, softwire_dump_query},
    {"dump_stats", softwire_stats_dump_open, softwire_stats_dump_close, softwire_stats_dump_query},
    {"clear_stats", softwire_stats_dump_open, softwire_stats_dump_close, softwire_stats_dump_query},
    {"count_softwire_sessions", softwire_sessions_count_open, softwire_sessions_count_close,
     softwire_sessions_count_query},
    {"dump_softwire_sessions", softwire_session_dump_open, softwire_session_dump_close,
     softwire_session_dump_query},
    {nullptr, nullptr, nullptr, nullptr},
};

const softwire_action si_sw_cmd_handlers_table[] = {
    {"dump_stats", si_sw_stats_dump_open, si_sw_stats_dump_close, si_sw_stats_dump_query},
    {"clear_stats", si_sw_stats_dump_open, si_sw_stats_dump_close, si_sw_stats_dump_query},
    {nullptr, nullptr, nullptr, nullptr},
};

namespace {

constexpr uint32_t kAllOnes = 0xffffffffu;

// What a subcommand word sets besides the action; unset fields are left
// as the options made them.
struct sw_settings {
    std::optional<uint8_t> entries = {};
    std::optional<uint8_t> addr_flags = {};
    std::optional<uint8_t> addr_v6 = {}; // the IPv6 flags of g_addr and b_addr
    std::optional<uint32_t> stats_subcmd = {};
    std::optional<uint8_t> pic_based = {};
    auto fields() { return std::tie(entries, addr_flags, addr_v6, stats_subcmd, pic_based); }
};

// The count flag (-c) a row wants.
struct sw_when {
    uint8_t count_only;
};
using sw_action_row = vorel_subcommand<sw_settings, sw_when>;

const sw_action_row softwire_action_rows[] = {
    {"flows", "count_softwire", {}, {1}},
    {"entries", "dump_softwire", {.entries = 1}, {0}},
    {"flows", "dump_softwire_flows", {.entries = 0, .addr_flags = SW_ADDR_FLOWS}, {0}},
    {"dslite", "dump_softwire_flows", {.entries = 0, .addr_v6 = 1}, {0}},
    {"v6rd", "dump_softwire_flows", {.entries = 0, .addr_v6 = 0}, {0}},
    {"softconip", "dump_softwire_flows", {.entries = 0}, {0}},
    {"softinitip", "dump_softwire_flows", {.entries = 0}, {0}},
    {"clear_flows", "drain_softwire", {}, {0}},
    {"conversations", "dump_conv", {}, {0}},
    {"stats", "dump_stats", {.stats_subcmd = SW_STATS_PIC, .pic_based = 1}, {0}},
    {"clear_stats", "clear_stats", {.stats_subcmd = SW_STATS_CLEAR, .pic_based = 1}, {0}},
    {"sessions", "count_softwire_sessions", {}, {1}},
    {"sessions", "dump_softwire_sessions", {}, {0}},
    {"dslite_msp", "dump_softwire_sessions", {.addr_v6 = 1}, {0}},
    {"dslite_msp", "count_softwire_sessions", {}, {1}},
};

const sw_action_row si_sw_action_rows[] = {
    {"stats", "dump_stats", {.stats_subcmd = 0, .pic_based = 1}, {0}},
    {"clear_stats", "clear_stats", {.stats_subcmd = SI_SW_STATS_CLEAR, .pic_based = 1}, {0}},
};

void apply(const sw_settings &s, softwire_params *p) {
    if (s.entries)
        p->entries = *s.entries;
    if (s.addr_flags)
        p->addr_flags = *s.addr_flags;
    if (s.addr_v6) {
        p->g_addr.is_v6 = *s.addr_v6;
        p->b_addr.is_v6 = *s.addr_v6;
    }
    if (s.stats_subcmd)
        p->stats_subcmd = *s.stats_subcmd;
    if (s.pic_based)
        p->pic_based = *s.pic_based;
}

// -F sprefix|dprefix PREFIX: an IPv4 prefix; lengths 1..31 give their
// netmask, 0 and 32 (and a bare address) all ones.
int parse_prefix(const vorel_ctx *ctxt, const char *value, softwire_addr *prefix,
                 softwire_addr *mask) {
    uint32_t addr = 0;
    int length = 0;
    if (vorel_prefix_parse_failed([&] { length = vorel_prefix_parse(&addr, value); })) {
        // The parser's error element says it in XML; text mode says it here.
        vorel_prefix_refused(ctxt->xml != 0, false);
        return -1;
    }
    *prefix = softwire_addr{};
    *mask = softwire_addr{};
    prefix->words[0] = ntohl(addr);
    mask->words[0] = (length > 0 && length < 32) ? kAllOnes << (32 - length) : kAllOnes;
    return 0;
}

int parse_prefix_option(const vorel_ctx *ctxt, const char *keyword, const char *value,
                        softwire_params *p) {
    if (keyword && std::strncmp(keyword, "sprefix", 7) == 0)
        return parse_prefix(ctxt, value, &p->sprefix, &p->smask);
    if (keyword && std::strncmp(keyword, "dprefix", 7) == 0)
        return parse_prefix(ctxt, value, &p->dprefix, &p->dmask);
    return 0; // another keyword: its word is passed over
}

// -K g|b ADDRESS (IPv4), -O g|b ADDRESS (IPv6).
int parse_address_option(const char *which, const char *value, int family, softwire_params *p) {
    softwire_addr *target = nullptr;
    uint8_t bit = 0;
    switch (which ? which[0] : '\0') {
    case 'g':
        target = &p->g_addr;
        bit = SW_ADDR_G;
        break;
    case 'b':
        target = &p->b_addr;
        bit = SW_ADDR_B;
        break;
    default:
        return 0; // the word is passed over
    }
    ipaddr_t ip;
    if (!value || !parse_ipaddr(value, &ip) || ip.family != family) {
        vorel_user_message("vorel: invalid %s address: %s \n", family == AF_INET ? "IPv4" : "IPv6",
                           vorel_str_or_null(value));
        return -1;
    }
    *target = softwire_addr{};
    vorel::ByteReader r(ip.addr, sizeof ip.addr);
    for (int i = 0; i < 4; i++)
        target->words[i] = r.be32(4 * i);
    target->is_v6 = family == AF_INET6 ? 1 : 0;
    p->addr_flags |= bit;
    return 0;
}

void parse_level(const char *level, softwire_params *p) {
    switch (level ? level[0] : '\0') {
    case 't':
        p->detail = 0;
        break;
    case 'b':
        p->detail = 0;
        p->stats_subcmd = 0;
        break;
    case 'x':
        p->detail = 1;
        p->stats_subcmd = 2;
        break;
    case 'd':
        p->stats_subcmd = 1;
        break;
    case 's':
        p->stats_subcmd = SW_STATS_PIC;
        break;
    default:
        break;
    }
}

// -A (or -N) names the action and brings the settings every row naming
// it makes; else the first row of the words and count flag names it.
void settle_action(std::span<const sw_action_row> rows, bool named, softwire_params *p) {
    if (named) {
        if (std::optional<sw_settings> shared = vorel_subcommand_shared(rows, *p->action))
            apply(*shared, p);
    } else if (const sw_action_row *row =
                   vorel_subcommand_find(rows, p->subcommand, [p](const sw_when &w) {
                       return w.count_only == p->count_only;
                   })) {
        p->action = row->action;
        apply(row->settings, p);
    }
}

// The letters both commands read alike; false for any other.
bool common_option(int c, softwire_params *p, bool *named) {
    if (c == 'A')
        *named = true;
    return vorel_command_and_interface_option(c, p);
}

// -T: the first letter of the word picks one of the command's two types.
struct type_letters {
    char letter;
    uint32_t type;
};
void parse_type(const char *word, const type_letters (&letters)[2], softwire_params *p) {
    for (const type_letters &l : letters)
        if (word[0] == l.letter)
            p->sw_type = l.type;
}

const char *true_false(bool b) {
    return b ? "TRUE" : "FALSE";
}

void trace_params(const softwire_params &p, bool with_countonly) {
    if (!debug)
        return;
    std::printf("vorel: command: %s, subcommand: %s \n", vorel_str_or_null(vorel_text(p.command)),
                vorel_str_or_null(vorel_text(p.subcommand)));
    std::printf("vorel: srv_set_name: %s, interface_name: %s,\n",
                vorel_str_or_null(vorel_text(p.svc_set_name)),
                vorel_str_or_null(vorel_text(p.if_name)));
    if (with_countonly)
        std::printf("vorel: countonly: %s\n", true_false(p.count_only));
    std::printf("vorel: stats_subcmd: %d\n", static_cast<int>(p.stats_subcmd));
}

} // namespace

int softwire_parse_options(int argc, char **argv, const vorel_ctx *ctxt, softwire_params *p) {
    static const type_letters types[2] = {{'r', SW_TYPE_6RD}, {'d', SW_TYPE_DSLITE}};
    bool named = false; // -A or -N
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (common_option(c, p, &named))
            continue;
        switch (c) {
        case 'N':
            p->action = "count_softwire_tunnel";
            named = true;
            break;
        case 's':
            p->svc_set_name = vorel_optarg;
            break;
        case 'F':
            if (parse_prefix_option(ctxt, vorel_optarg, vorel_getopt_next_word(argc, argv), p) < 0)
                return -1;
            break;
        case 'K':
        case 'O':
            if (parse_address_option(vorel_optarg, vorel_getopt_next_word(argc, argv),
                                     c == 'K' ? AF_INET : AF_INET6, p) < 0)
                return -1;
            break;
        case 'L':
            p->limit = static_cast<uint32_t>(std::atoi(vorel_optarg));
            break;
        case 'T':
            parse_type(vorel_optarg, types, p);
            break;
        case 'V':
            parse_level(vorel_optarg, p);
            break;
        case 'c':
            p->count_only = 1;
            break;
        case 'd':
            p->detail = 1;
            break;
        default:
            break;
        }
    }
    // The words select an action of "softwire" only.
    if (named || (p->command && *p->command == "softwire"))
        settle_action(softwire_action_rows, named, p);
    if (p->stats_subcmd == SW_STATS_PIC)
        p->pic_based = 1;
    return 0;
}

int si_sw_parse_options(int argc, char **argv, const vorel_ctx *ctxt, softwire_params *p) {
    static const type_letters types[2] = {{'m', SW_TYPE_MAPE}, {'r', SW_TYPE_6RD}};
    bool named = false;
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (!common_option(c, p, &named) && c == 'T')
            parse_type(vorel_optarg, types, p);
    }
    settle_action(si_sw_action_rows, named, p);
    return 0;
}

int vorel_handle_softwire_command(int argc, char **argv, vorel_ctx *ctxt) {
    softwire_params p;
    if (softwire_parse_options(argc, argv, ctxt, &p) < 0)
        return -1;
    trace_params(p, true);
    if (!p.action) {
        vorel_user_message("vorel: softwire handler don't know what to do\n");
        return -1;
    }
    bool ran = false;
    int rc = softwire_run_action(ctxt, &p, &ran);
    if (!ran)
        vorel_user_message("vorel: softwire handler unknown action: %s \n", p.action->c_str());
    else if (rc < 0)
        xml_subtree_unwind(); // a stopped walk leaves the root element open
    return rc;
}

int vorel_handle_si_sw_command(int argc, char **argv, vorel_ctx *ctxt) {
    softwire_params p;
    si_sw_parse_options(argc, argv, ctxt, &p);
    trace_params(p, false);
    if (!p.action) {
        vorel_user_message("vorel: softwire handler cannot process this command\n");
        return -1;
    }
    // A named interface must be a service interface: the open routine has
    // run, then the driver refuses the name without asking any line card.
    if (p.if_name && !sw_name_begins(p.if_name->c_str(), "si")) {
        if (const softwire_action *row =
                vorel_find_action(si_sw_cmd_handlers_table, p.action->c_str(), nullptr)) {
            row->open(ctxt, &p);
            xml_subtree_unwind();
            // Otherwise a refused clear would pass for a done one.
            vorel_note_failure("%s is not a service interface", p.if_name->c_str());
            return -1;
        }
    }
    bool ran = false;
    int rc = si_sw_run_action(ctxt, &p, &ran);
    if (!ran)
        vorel_user_message("vorel: softwire handler cannot process unknown action: %s \n",
                           p.action->c_str());
    else if (rc < 0)
        xml_subtree_unwind();
    return rc;
}
