// -C inline-nat: NAT that line cards perform inline, on the service
// interfaces (si-...): the NAT statistics of each interface, the counters
// of each service set's pools (both shown or cleared) and NPTv6
// translation.  The walk goes to each line card's agent on port 33019; an
// interface that cannot be reached, or a failed query, ends the command.
#include "platform/xml.h"
#include "vorel/vorel_cmd_nat.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint16_t kStatsRequest = 177, kStatsReply = 178;
constexpr size_t kStatsRequestSize = 80;
constexpr size_t kStatsReplySize = 208;
constexpr size_t kIfNameWidth = 60;

constexpr uint16_t kPoolRequest = 181, kPoolReply = 182;
constexpr size_t kPoolRequestSize = 84;
constexpr size_t kPoolReplySize = 1656;
constexpr size_t kPoolNameWidth = 64;
constexpr size_t kRangesOffset = 80, kRangeSize = 24, kMaxRanges = 64;

// stats_subcmd of this command.
constexpr int32_t kShow = 0, kClear = 1;

// The counters in the order they are shown (not the order of the reply).
constexpr vorel_counter kInlineCounters[] = {
    {"si-nat-ipv4-received", 16, 8},
    {"si-nat-icmpv4-errors-pass", 24, 8},
    {"si-nat-icmpv4-errors-local", 32, 8},
    {"si-nat-ipv4-dropped", 40, 8},
    {"si-nat-ipv6-received", 48, 8},
    {"si-nat-icmpv6-errors-pass-nptv6", 56, 8},
    {"si-nat-icmpv6-errors-local-nptv6", 64, 8},
    {"si-nat-ipv6-dropped", 72, 8},
    {"si-nat-ipv4-pkts", 80, 8},
    {"si-nat-ipv4-bytes", 144, 8},
    {"si-denat-ipv4-pkts", 88, 8},
    {"si-denat-ipv4-bytes", 152, 8},
    {"si-ipv4-error-pkts", 96, 8},
    {"si-ipv4-error-bytes", 160, 8},
    {"si-ipv4-skipped-pkts", 104, 8},
    {"si-ipv4-skipped-bytes", 168, 8},
    {"si-nat-ipv6-pkts", 112, 8},
    {"si-nat-ipv6-bytes", 176, 8},
    {"si-denat-ipv6-pkts", 120, 8},
    {"si-denat-ipv6-bytes", 184, 8},
    {"si-ipv6-error-pkts", 128, 8},
    {"si-ipv6-error-bytes", 192, 8},
    {"si-ipv6-skipped-pkts", 136, 8},
    {"si-ipv6-skipped-bytes", 200, 8},
};

// ---------------------------------------------------------------------------
// Statistics

// The statistics and the pools are XML-only views that a clear leaves
// closed: the root element, or in text mode the refusal line.
struct si_view {
    const char *element;
    const char *refusal;
};

template <const si_view &V> int si_view_open(vorel_ctx *ctxt, fwnat_params *p) {
    if (p->stats_subcmd == kClear)
        return 0;
    if (nat_text_mode_refused(ctxt, V.refusal))
        return 0;
    xml_subtree_open(V.element);
    return 0;
}

int si_view_close(vorel_ctx *ctxt, fwnat_params *p) {
    if (p->stats_subcmd == kClear || !ctxt->xml)
        return 0;
    xml_subtree_close();
    xml_subtree_once();
    return 0;
}

constexpr si_view kStatsView{"inline-nat-statistics-information",
                             "si_nat_stats_dump_open:412 command failed \n"};
constexpr si_view kPoolView{"si-nat-pool-information",
                            "si_natpool_dump_open:520 command failed \n"};

int si_nat_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *si, svc_set_info *,
                            fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, si, nullptr, p, false))
        return -1;
    vorel::ByteWriter req = fwnat_request(kStatsRequest, 1, kStatsRequestSize, nullptr);
    req.be16(16, static_cast<uint16_t>(p->stats_subcmd));
    req.text(18, kIfNameWidth, si->name);
    if (vorel_send(c, req) < 0)
        return -1;
    vorel::ByteReader reply = vorel_receive_at_least(c, kStatsReply, 1, kStatsReplySize, si->name,
                                                     short_reply::end_answer);
    if (reply.empty()) {
        vorel_trace("%s:%d: stats reply failure\n", "si_nat_stats_dump_query", 460);
        return 0;
    }
    if (p->stats_subcmd == kClear)
        return 0;
    xml_send_open("inline-nat-statistics-entry", {xml_attr_style("summary")});
    xml_send_all("srv-pic-name", "%s", si->name);
    vorel_counters_emit(ctxt, {nullptr, kInlineCounters}, reply, nullptr);
    xml_send_close("inline-nat-statistics-entry");
    return 0;
}

// ---------------------------------------------------------------------------
// Pools

// An IPv6 range as its prefix, an IPv4 range as its first and last address.
std::string range_text(const vorel::ByteReader &r, size_t i) {
    const size_t off = kRangesOffset + i * kRangeSize;
    vorel_addr a;
    for (size_t w = 0; w < 4; w++)
        a.words[w] = r.be32(off + 4 * w);
    const uint32_t count_or_len = r.be32(off + 16);
    if (r.be32(off + 20) != 0) {
        a.is_v6 = 1;
        return nat_addr_text(a) + "/" + std::to_string(count_or_len);
    }
    fwnat_pool_range range;
    range.addr[0] = a.words[0];
    range.count = count_or_len;
    vorel_addr first, last;
    fwnat_pool_range_bounds(range, &first, &last);
    return nat_addr_text(first) + "-" + nat_addr_text(last);
}

void send_pool(const vorel::ByteReader &r) {
    std::string name(r.text(16, kPoolNameWidth));
    xml_send_open("si-nat-pool");
    xml_send_all("pool-name", "%s", name.c_str());
    xml_send_all("translation-type", "%s", fwnat_xlate_type_name(r.be32(1620)));
    xml_send_open("si-pool-address-range-list");
    const size_t ranges = r.clamp_count(r.be32(1616), kRangesOffset, kRangeSize, kMaxRanges);
    for (size_t i = 0; i < ranges; i++)
        xml_send_all("pool-address-range", "%s", range_text(r, i).c_str());
    xml_send_close("si-pool-address-range-list");
    xml_send_all("si-pool-nated-packets", "%llu", static_cast<unsigned long long>(r.be64(1624)));
    xml_send_all("si-pool-denated-packets", "%llu", static_cast<unsigned long long>(r.be64(1632)));
    xml_send_all("si-pool-errors", "%llu", static_cast<unsigned long long>(r.be64(1640)));
    xml_send_all("si-pool-skipped", "%llu", static_cast<unsigned long long>(r.be64(1648)));
    xml_send_close("si-nat-pool");
}

int si_natpool_dump_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *si, svc_set_info *ss,
                          fwnat_params *p) {
    if (!fwnat_query_args_ok(ctxt, si, ss, p, true))
        return -1;
    vorel::ByteWriter req = fwnat_request(kPoolRequest, 1, kPoolRequestSize, ss);
    req.be16(16, static_cast<uint16_t>(p->stats_subcmd));
    if (p->natpool)
        req.text(18, kPoolNameWidth, vorel_text(p->natpool));
    if (vorel_send(c, req) < 0)
        return -1;
    vorel_section per_svc_set(ctxt, "si-per-service-set-nat-pool", {xml_attr_style("detail")});
    for (;;) {
        vorel::ByteReader reply =
            vorel_receive_at_least(c, kPoolReply, 1, kPoolReplySize, si->name, short_reply::skip);
        if (reply.empty())
            break;
        if (per_svc_set.open()) {
            xml_send_all("interface-name", "%s", si->name);
            xml_send_all("service-set-name", "%s", ss->name);
        }
        send_pool(reply);
    }
    vorel_trace("%s:%d: nat pool command reply finished\n", "si_natpool_dump_query", 610);
    return 0;
}

// ---------------------------------------------------------------------------
// The table, the handler and the driver

const fwnat_action si_cmd_handlers_table[] = {
    {"dump_nat_stats", si_view_open<kStatsView>, si_view_close, si_nat_stats_dump_query},
    {"clear_nat_stats", si_view_open<kStatsView>, si_view_close, si_nat_stats_dump_query},
    {"dump_natpool", si_view_open<kPoolView>, si_view_close, si_natpool_dump_query},
    {"clear_natpool", si_view_open<kPoolView>, si_view_close, si_natpool_dump_query},
    {"nptv6_addr_mapping", fwnat_nptv6_mapping_dump_open, fwnat_nptv6_mapping_dump_close,
     fwnat_nptv6_mapping_dump_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// The sub-commands, their actions and what goes with them.
constexpr nat_selection kSelection[] = {
    {"stats", "dump_nat_stats", {kShow, true}},
    {"clear_stats", "clear_nat_stats", {kClear, true}},
    {"pool", "dump_natpool", {kShow, false}},
    {"clear_pool", "clear_natpool", {kClear, false}},
    {"mapping-nptv6", "nptv6_addr_mapping", {FWNAT_MAPPINGS_NPTV6, false}},
};

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, fwnat_params *p) {
    nat_parse_options(argc, argv, ctxt, p, [&](int c) {
        switch (c) {
        case 'N':
            p->natpool = vorel_optarg;
            break;
        case 'd':
            p->detail = true;
            break;
        case 'w':
            // Unlike the fwnat command, only -w a consumes a further word.
            if (vorel_optarg[0] == 'i')
                p->detail = true;
            else if (vorel_optarg[0] == 'e')
                p->detail = false;
            else if (vorel_optarg[0] == 'a')
                fwnat_parse_b4_address(vorel_getopt_next_word(argc, argv), p);
            break;
        default:
            break;
        }
    });
}

// The walk over the service interfaces.  An -i that names no service
// interface walks nothing (the run then answers -1).
pic_walk service_interface_walk(const fwnat_params &p, bool *bad_name) {
    *bad_name = p.if_name && !vorel_starts_with(vorel_text(p.if_name), "si");
    pic_walk walk;
    walk.records = walk_records::service_interfaces;
    walk.pic_name = vorel_text(p.if_name);
    const bool none = *bad_name;
    walk.admit = [&p, none](const asp_info &si) {
        return !none && (p.if_name || vorel_starts_with(si.name, "si"));
    };
    walk.open_channel = vorel_open_inline_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    walk.loop = p.pic_based ? vorel_loop_pic("calling pic-based handlers->query \n")
                            : vorel_loop_svc_sets(vorel_text(p.svc_set_name), svc_set_kinds::kind0,
                                                  "calling handlers->query \n");
    walk.on_query_failure = query_failure::stop_walk;
    walk.after_close = [](const asp_info &) { pics_visited++; };
    return walk;
}

// A stopped walk ends the command without its close; the close of the
// action still closes what its open opened, so the output stays whole.
void close_after_stop(vorel_ctx *ctxt, fwnat_params *p) {
    if (const fwnat_action *row =
            vorel_find_action(si_cmd_handlers_table, vorel_text(p->action), nullptr))
        row->close(ctxt, p);
}

// The inline driver: the action named in params over the service
// interfaces.  0; -1 when the walk stopped or -i named no service
// interface (*ran false when no row of the table ran).
int si_run_action(vorel_ctx *ctxt, fwnat_params *p, bool *ran) {
    pics_visited = 0;
    bool bad_name = false;
    pic_walk walk = service_interface_walk(*p, &bad_name);
    int rc = vorel_run_action(si_cmd_handlers_table, vorel_text(p->action), walk, ctxt, p,
                              "vorel: nat action %s is not supported \n", ran);
    if (*ran && rc < 0)
        close_after_stop(ctxt, p);
    return *ran && bad_name ? -1 : rc;
}

} // namespace

int vorel_handle_si_nat_command(int argc, char **argv, vorel_ctx *ctxt) {
    fwnat_params p;
    fwnat_params_init(&p);
    parse_options(argc, argv, ctxt, &p);
    if (!nat_settle_action(&p, kSelection, "nat")) {
        fwnat_params_free(&p);
        return -1;
    }
    bool ran = false;
    int rc = si_run_action(ctxt, &p, &ran);
    if (!ran)
        vorel_user_message("vorel: nat handler cannot process unknown action: %s \n",
                           vorel_text(p.action));
    fwnat_params_free(&p);
    return rc;
}
