// -C msp: sessions, flows, ALG state and per-service-set statistics of the
// multiservices PICs' session engine.  This file holds the command line,
// the filters, the action table and the pieces every msp request shares;
// the walk is in vorel_cmd_msp_walk.cc, the queries in one file per group.
#include "vorel/vorel_cmd_msp.h"

#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_plugins.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_tally.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// The session queries that run once per PIC stand for the system's own
// service set.
constexpr uint16_t kSystemSvcSetId = 12002;
constexpr uint8_t kSystemSvcSetStyle = 2;

constexpr int kAnyCountonly = -1;

// One row of the selection table: what the command line names (-S and
// -c), the action of msp_cmd_handlers_table that runs for it and the
// settings that go with it.  Rows are tried in order and compare the name
// exactly; countonly, when not kAnyCountonly, must equal the parameter's.
struct msp_settings {
    uint8_t pic_based = 0;
    uint8_t clear_stats = 0;
    uint8_t first_svc_set_only = 0;
    uint16_t drain_type = 0; // 0 leaves the default
    bool register_plugins = false;
};
struct msp_when {
    int countonly = kAnyCountonly;
};
using msp_action_row = vorel_subcommand<msp_settings, msp_when>;

const msp_action_row msp_action_table[] = {
    {"flows", "flow_dump", {}, {0}},
    {"flows", "flow_count", {}, {1}},
    {"clear_flows", "flow_drain"},
    {"clear_flows_ipaction", "flow_drain", {.drain_type = 2}},
    {"sessions_analysis", "sess_analysis", {.pic_based = 1}},
    {"clear_sessions_analysis", "sess_analysis", {.pic_based = 1, .clear_stats = 1}},
    {"sessions_count", "sess_count"},
    {"sessions_utilization", "sess_util", {.pic_based = 1}},
    {"sessions_tcp_log", "sess_dump", {.pic_based = 1}},
    {"sessions", "sess_dump", {.register_plugins = true}},
    {"clear_sessions", "sess_drain"},
    {"clear_sessions_ipaction", "sess_drain", {.drain_type = 2}},
    {"conversations", "alg_conv", {.pic_based = 1, .first_svc_set_only = 1}},
    {"sip_globals", "alg_sip_globals", {.pic_based = 1, .first_svc_set_only = 1}},
    {"stats", "alg_stats", {.pic_based = 1, .first_svc_set_only = 1}},
    {"clear_alg_stats", "alg_clear_stats", {.pic_based = 1, .first_svc_set_only = 1}},
    {"show_subs_analysis", "subs_analysis", {.pic_based = 1}},
    {"clear_subs_analysis", "subs_analysis_clear", {.pic_based = 1, .clear_stats = 1}},
    {"show_tcp_stats", "tcp_stats"},
    {"clear_tcp_stats", "tcp_stats_clear", {.clear_stats = 1}},
    {"show_ids_drops_stats", "ids_drops_stats"},
    {"clear_ids_drops_stats", "ids_drops_stats_clear", {.clear_stats = 1}},
    {"show_ids_session_limits_counters_stats", "ids_sess_limits_stats"},
    {"clear_ids_session_limits_counters_stats", "ids_sess_limits_stats_clear", {.clear_stats = 1}},
};

// -Z makes a statistics page clear its counters (the query asks the clear);
// the run is then the page's clear, which does not say that the page is
// shown only in XML.
const char *action_of(const msp_action_row &row, const msp_action_params &p) {
    static constexpr std::pair<const char *, const char *> kClearOfPage[] = {
        {"subs_analysis", "subs_analysis_clear"},
        {"tcp_stats", "tcp_stats_clear"},
        {"ids_drops_stats", "ids_drops_stats_clear"},
        {"ids_sess_limits_stats", "ids_sess_limits_stats_clear"},
    };
    if (p.clear_stats)
        for (const auto &[page, clear] : kClearOfPage)
            if (std::strcmp(row.action, page) == 0)
                return clear;
    return row.action;
}

} // namespace

// The actions' callbacks, by the names the selection rows give.
const vorel_action<msp_action_params> msp_cmd_handlers_table[] = {
    msp_action<msp_flow_dump_handlers>("flow_dump"),
    msp_action<msp_flow_count_handlers>("flow_count"),
    msp_action<msp_flow_drain_handlers>("flow_drain"),
    msp_action<msp_sess_analysis_handlers>("sess_analysis"),
    msp_action<msp_sess_count_handlers>("sess_count"),
    msp_action<msp_sess_util_handlers>("sess_util"),
    msp_action<msp_sess_dump_handlers>("sess_dump"),
    msp_action<msp_sess_drain_handlers>("sess_drain"),
    msp_action<msp_alg_conv_handlers>("alg_conv"),
    msp_action<msp_alg_sip_globals_handlers>("alg_sip_globals"),
    msp_action<msp_alg_stats_handlers>("alg_stats"),
    msp_action<msp_alg_clear_stats_handlers>("alg_clear_stats"),
    msp_action<msp_subs_analysis_handlers>("subs_analysis"),
    msp_action<msp_subs_analysis_clear_handlers>("subs_analysis_clear"),
    msp_action<msp_tcp_stats_handlers>("tcp_stats"),
    msp_action<msp_tcp_stats_clear_handlers>("tcp_stats_clear"),
    msp_action<msp_ids_drops_stats_handlers>("ids_drops_stats"),
    msp_action<msp_ids_drops_stats_clear_handlers>("ids_drops_stats_clear"),
    msp_action<msp_ids_sess_limits_stats_handlers>("ids_sess_limits_stats"),
    msp_action<msp_ids_sess_limits_stats_clear_handlers>("ids_sess_limits_stats_clear"),
    {nullptr, nullptr, nullptr, nullptr},
};

namespace {

const msp_action_row *find_action(const msp_action_params &p) {
    return vorel_subcommand_find(msp_action_table, p.action, [&p](const msp_when &w) {
        return w.countonly == kAnyCountonly || w.countonly == p.countonly;
    });
}

bool starts_with(const char *s, const char *word) {
    return std::strncmp(s, word, std::strlen(word)) == 0;
}

// A prefix filter value into an address and its mask; -1 (after the
// message) for text that is not a prefix with a length: a bare address or
// /0 would leave the mask zero, matching every session.
int parse_prefix_filter(const char *value, msp_addr *prefix, msp_addr *mask) {
    vorel_addr addr{}, m{};
    if (vorel_prefix_value(value, &addr, &m) != vorel_prefix_result::ok) {
        vorel_user_message("vorel: Prefix not valid :%s \n", value ? value : "");
        return -1;
    }
    *prefix = addr; // the record keeps host order
    *mask = m;
    return 0;
}

// A protocol filter value: a number (its low 8 bits) or a name.
int parse_proto_filter(const char *value, uint16_t *proto) {
    int number = 0;
    if (value && std::sscanf(value, "%d", &number) == 1) {
        *proto = static_cast<uint8_t>(number);
        return 0;
    }
    uint8_t by_name = value ? vorel_protocol_string_to_uint8(value) : 0;
    if (by_name == 0) {
        vorel_user_message("vorel: unknown protocol: %s \n", value ? value : "");
        return -1;
    }
    *proto = by_name;
    return 0;
}

// -F keyword value.  Keywords compare by their leading characters.  A
// missing value word refuses the prefix and protocol filters (as a bad
// value would) and leaves the others unset.
int parse_filter(const char *keyword, const char *value, msp_action_params *p) {
    if (starts_with(keyword, "sprefix")) {
        if (parse_prefix_filter(value, &p->sprefix, &p->smask) < 0)
            return -1;
    } else if (starts_with(keyword, "all")) {
        // every flow: nothing to set
    } else if (starts_with(keyword, "dprefix")) {
        if (parse_prefix_filter(value, &p->dprefix, &p->dmask) < 0)
            return -1;
    } else if (starts_with(keyword, "sport")) {
        if (value)
            p->sport = static_cast<uint16_t>(std::atoi(value));
    }
    if (starts_with(keyword, "dport") && value)
        p->dport = static_cast<uint16_t>(std::atoi(value));
    if (starts_with(keyword, "proto") && parse_proto_filter(value, &p->proto) < 0)
        return -1;
    if (starts_with(keyword, "alg") && value)
        p->alg = vorel_application_protocol_string_to_uint8(value);
    if (starts_with(keyword, "count") && value)
        p->limit = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
    return 0;
}

// -g keyword [number]: the word after the keyword is always consumed.
void parse_id(const char *keyword, const char *word, msp_action_params *p) {
    if (!word)
        return; // a missing word: the option is ignored
    p->id_keyword = keyword;
    if (std::strcmp(keyword, "group-id") == 0 || std::strcmp(keyword, "resource-id") == 0)
        p->id_value = std::atoi(word);
}

void parse_level(const char *level, msp_action_params *p) {
    if (level[0] == 't' || level[0] == 'b')
        p->extensive = 0;
    else if (level[0] == 'x')
        p->extensive = 1;
}

const char *yes_no(bool b) {
    return b ? "TRUE" : "FALSE";
}

void trace_params(const msp_action_params &p) {
    vorel_trace("vorel: srv_set_name: %s, interface_name: %s,\n",
                vorel_str_or_null(vorel_text(p.srv_set_name)),
                vorel_str_or_null(vorel_text(p.interface_name)));
    vorel_trace("vorel: limit=%u, extensive=%s\n", p.limit, yes_no(p.extensive));
    vorel_trace("vorel: msp sprefix: addr: %x, mask:%x, sport: %d\n", p.sprefix.words[0],
                p.smask.words[0], p.sport);
    vorel_trace("vorel: msp dprefix: addr: %x, mask: %x, dport: %d \n", p.dprefix.words[0],
                p.dmask.words[0], p.dport);
    vorel_trace("vorel: countonly: %s\n", yes_no(p.countonly));
}

void apply_row(const msp_settings &row, msp_action_params *p) {
    if (row.pic_based)
        p->pic_based = 1;
    if (row.clear_stats)
        p->clear_stats = 1;
    if (row.first_svc_set_only)
        p->first_svc_set_only = 1;
    if (row.drain_type)
        p->drain_type = row.drain_type;
}

} // namespace

int msp_parse_options(int argc, char **argv, const vorel_ctx *ctxt, msp_action_params *p) {
    vorel_getopt_reset();
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'C':
            p->command = vorel_optarg;
            break;
        case 'S':
            p->action = vorel_optarg;
            break;
        case 's':
            p->srv_set_name = vorel_optarg;
            break;
        case 'i':
            p->interface_name = vorel_optarg;
            break;
        case 'F':
            if (parse_filter(vorel_optarg, vorel_getopt_next_word(argc, argv), p) < 0)
                return -1;
            break;
        case 'g':
            parse_id(vorel_optarg, vorel_getopt_next_word(argc, argv), p);
            break;
        case 'V':
            parse_level(vorel_optarg, p);
            break;
        case 'd':
            p->extensive = 1;
            break;
        case 'c':
            p->countonly = 1;
            break;
        case 'a':
            p->limit = 0;
            break;
        case 'Z':
            p->clear_stats = 1;
            break;
        case 'z':
            break;
        case 't':
            debug = 1;
            break;
        default:
            // Every other letter, the global ones main has acted on and '?'
            // included, lifts the limit at its place in the vector.
            p->limit = 0;
            break;
        }
    }
    return 0;
}

int vorel_handle_msp_command(int argc, char **argv, vorel_ctx *ctxt) {
    msp_action_params p;
    if (msp_parse_options(argc, argv, ctxt, &p) < 0)
        return -1;
    trace_params(p);
    if (!p.command || *p.command != "msp") {
        vorel_user_message("vorel: msp handler don't know what to do\n");
        return -1;
    }
    const msp_action_row *row = find_action(p);
    if (!row) {
        vorel_user_message("vorel: msp handler don't know what to do\n");
        return -1;
    }
    apply_row(row->settings, &p);
    if (row->settings.register_plugins)
        vorel_register_all_session_plugins();
    bool ran = false;
    int rc = msp_run_action(ctxt, action_of(*row, p), &p, &ran);
    if (!ran)
        vorel_user_message("vorel: msp handler don't know what to do\n");
    return rc;
}

// ---- Shared request pieces ----

void msp_filter_write(vorel::ByteWriter &w, size_t off, const msp_action_params &p) {
    // Byte 87 is padding here, left zero.
    vorel_flow_filter_write(
        w, off, {p.sprefix, p.smask, p.dprefix, p.dmask, p.sport, p.dport, p.proto, p.alg, 0});
}

msp_svc_set_ref msp_svc_set_of(const svc_set_info *ss) {
    if (!ss)
        return {kSystemSvcSetId, kSystemSvcSetStyle, "System"};
    return {ss->id, ss->style, ss->name};
}

vorel::ByteWriter msp_count_request(uint16_t type, const msp_svc_set_ref &set,
                                    const msp_action_params &p) {
    vorel::ByteWriter w = vorel_request(type, 2, 112, set.id);
    w.u8(8, set.style);
    msp_filter_write(w, 20, p);
    return w;
}

vorel::ByteWriter msp_drain_request(const msp_svc_set_ref &set, const msp_action_params &p,
                                    uint8_t sessions) {
    vorel::ByteWriter w = vorel_request(114, 2, 108, set.id);
    w.u8(8, set.style);
    msp_filter_write(w, 16, p);
    w.be16(104, p.drain_type);
    w.u8(107, sessions);
    return w;
}

void msp_count_row(const asp_info &asp, const char *svc_set_name, uint32_t count) {
    vorel_tally_row(asp.name, svc_set_name, count);
}

void msp_count_entry(vorel_ctx *ctxt, const asp_info &asp, const char *svc_set_name, uint32_t count,
                     const char *element, const char *count_leaf) {
    vorel_tally_entry(ctxt, asp.name, svc_set_name, count, element, count_leaf);
}

int msp_count_exchange(vorel_ctx *ctxt, services_ui_conn *asp_conn, const asp_info &asp,
                       const char *svc_set_name, const vorel::ByteWriter &req, uint16_t reply_type,
                       uint16_t reply_version, size_t min_len, msp_count_render_fn render) {
    if (!asp_conn)
        return -1;
    return vorel_tally_exchange(
        asp_conn, req, reply_type, reply_version, min_len, asp.name, short_reply::end_answer,
        [&](const vorel::ByteReader &reply) { render(ctxt, asp, svc_set_name, reply); });
}
