// -C hcm: the header-enrichment service of the multiservices PICs (header
// insertion, renaming and tagging of subscriber traffic by tag rules): per
// tag rule the hit count of each term, per PIC the counters of the
// service's session plug-in, and the clears of both.  Only PICs that carry
// the "hcm" package are asked.  The views exist only in XML.
#include "platform/xml.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_tally.h"
#include "vorel/vorel_util.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr const char *kPackage = "hcm";
constexpr size_t kRequestSize = 80;
constexpr size_t kKindOffset = 16;
constexpr size_t kRuleNameOffset = 17;
constexpr size_t kRuleNameWidth = kRequestSize - kRuleNameOffset; // 63

enum hcm_stats_kind : uint8_t {
    HCM_RULE_STATS = 0,
    HCM_CLEAR_RULE_STATS = 1,
    HCM_PIC_STATS = 2,
    HCM_CLEAR_PIC_STATS = 3,
};

struct hcm_params {
    std::optional<std::string> action;
    std::optional<std::string> srv_set_name; // taken, not used by the queries
    std::optional<std::string> interface_name;
    std::optional<std::string> rule_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    uint8_t stats_kind = HCM_RULE_STATS;
    bool clear_reported = false;
};

vorel::ByteWriter hcm_request(uint16_t type, const hcm_params &p) {
    vorel::ByteWriter w = vorel_request(type, 1, kRequestSize);
    w.u8(kKindOffset, p.stats_kind);
    if (type == 167 && p.rule_name) {
        size_t n = std::min(p.rule_name->size(), kRuleNameWidth);
        w.bytes(kRuleNameOffset, p.rule_name->data(), n);
    }
    return w;
}

// A clear succeeds once per run, however many PICs answer.
void report_clear_once(hcm_params *p, const char *status, const char *success) {
    if (p->clear_reported)
        return;
    xml_send_open(status);
    xml_send_empty(success);
    xml_send_close(status);
    p->clear_reported = true;
}

// ---------------------------------------------------------------------------
// Rule statistics: the hit count of each term of the tag rules

constexpr uint16_t kRuleStatsRequest = 167;
constexpr uint16_t kRuleStatsReply = 168;
constexpr size_t kTermsOffset = 16;
constexpr size_t kTermSize = 16;
constexpr size_t kMaxTerms = 64;
constexpr size_t kTermCountOffset = 1040;
constexpr size_t kReplyRuleNameOffset = 1044;
constexpr size_t kReplyRuleNameWidth = 64;

void report_no_rules(const asp_info &asp, const hcm_params &p) {
    if (p.rule_name)
        vorel_xml_error(0,
                        "Either HCM tag rule %s is invalid or tag  rule is not present on "
                        "interface %s\n\n",
                        p.rule_name->c_str(), asp.name);
    else
        vorel_xml_error(0, "No rules are present on interface %s\n\n", asp.name);
}

void render_rule_stats(const asp_info &asp, const vorel::ByteReader &r, hcm_params *p) {
    if (p->stats_kind == HCM_CLEAR_RULE_STATS) {
        report_clear_once(p, "clear-service-hcm-statistics-status",
                          "clear-service-hcm-stats-success");
        return;
    }
    size_t used = std::min<uint64_t>(r.be32(kTermCountOffset), kMaxTerms);
    std::string_view rule = r.text(kReplyRuleNameOffset, kReplyRuleNameWidth);
    xml_send_open("service-hcm-statistics-entry");
    xml_send_all("hcm-rule-name", "%.*s", static_cast<int>(rule.size()), rule.data());
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_open("hcm-stats-rule-information");
    for (size_t i = 0; i < used; i++) {
        vorel::ByteBlock<kTermSize> term;
        if (!r.block(kTermsOffset + i * kTermSize, term))
            break;
        xml_send_open("hcm-stats-rule-entry");
        xml_send_all("total-term-count", "%llu", static_cast<unsigned long long>(term.be64<0>()));
        xml_send_all("term-number", "%u", term.be16<8>());
        xml_send_close("hcm-stats-rule-entry");
    }
    xml_send_close("hcm-stats-rule-information");
    xml_send_close("service-hcm-statistics-entry");
}

vorel::ByteReader receive_rule_stats(services_ui_conn *conn, const asp_info &asp) {
    return vorel_receive_at_least(conn, kRuleStatsReply, 1, kReplyRuleNameOffset, asp.name,
                                  short_reply::end_answer);
}

int hcm_stats_dump_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                         hcm_params *p) {
    if (vorel_send(conn, hcm_request(kRuleStatsRequest, *p)) < 0)
        return -1;
    vorel::ByteReader reply = receive_rule_stats(conn, *asp);
    if (reply.empty()) {
        report_no_rules(*asp, *p);
        return 0;
    }
    // One rule, or a clear, is answered by one reply; a listing of every
    // rule by one reply per rule.
    const bool single = p->rule_name || p->stats_kind == HCM_CLEAR_RULE_STATS;
    for (; !reply.empty(); reply = receive_rule_stats(conn, *asp)) {
        render_rule_stats(*asp, reply, p);
        if (single)
            return receive_rule_stats(conn, *asp).empty() ? 0 : -1;
    }
    return 0;
}

int hcm_stats_dump_open(vorel_ctx *ctxt, hcm_params *p) {
    if (p->stats_kind != HCM_CLEAR_RULE_STATS)
        vorel_open_enclosing(ctxt, nullptr, "service-hcm-statistics-information", nullptr,
                             {xml_attr_style("brief")});
    return 0;
}

int hcm_stats_dump_close(vorel_ctx *ctxt, hcm_params *p) {
    if (p->stats_kind != HCM_CLEAR_RULE_STATS)
        vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

// ---------------------------------------------------------------------------
// PIC statistics: the counters of the service's session plug-in

constexpr uint16_t kPicStatsRequest = 173;
constexpr uint16_t kPicStatsReply = 174;
constexpr size_t kPicStatsReplySize = 16 + 50 * 8;

constexpr uint16_t pic_counter(int index) {
    return static_cast<uint16_t>(16 + index * 8);
}

// In the order they are shown: the reply's order, except that the two
// mask-modification counters follow the header-rename failures.
constexpr vorel_counter kPicCounters[] = {
    {"hcm-plugin-sess-interest", pic_counter(0), 8},
    {"hcm-plugin-sess-create", pic_counter(1), 8},
    {"hcm-plugin-sess-close", pic_counter(2), 8},
    {"hcm-plugin-sess-destroy", pic_counter(3), 8},
    {"hcm-plugin-data-event", pic_counter(4), 8},
    {"hcm-plugin-no-sess-ext", pic_counter(5), 8},
    {"hcm-plugin-invalid-sess-ext", pic_counter(6), 8},
    {"hcm-plugin-sess-ext-alloc", pic_counter(7), 8},
    {"hcm-plugin-sess-ext-alloc-fail", pic_counter(8), 8},
    {"hcm-plugin-sess-ext-free", pic_counter(9), 8},
    {"hcm-plugin-subsc-ext-alloc", pic_counter(10), 8},
    {"hcm-plugin-subsc-ext-alloc-fail", pic_counter(11), 8},
    {"hcm-plugin-subsc-ext-free", pic_counter(12), 8},
    {"hcm-plugin-sess-ignore", pic_counter(13), 8},
    {"hcm-plugin-no-stbuf-hdl", pic_counter(14), 8},
    {"hcm-plugin-stbuf-init", pic_counter(15), 8},
    {"hcm-plugin-stbuf-init-fail", pic_counter(16), 8},
    {"hcm-plugin-stbuf-store-fail", pic_counter(17), 8},
    {"hcm-plugin-stbuf-dstry", pic_counter(18), 8},
    {"hcm-plugin-stbuf-dstry-fail", pic_counter(19), 8},
    {"hcm-plugin-stbuf-send", pic_counter(20), 8},
    {"hcm-plugin-stbuf-send-fail", pic_counter(21), 8},
    {"hcm-plugin-stbuf-recv", pic_counter(22), 8},
    {"hcm-plugin-stbuf-throttled", pic_counter(23), 8},
    {"hcm-plugin-stbuf-invalid", pic_counter(24), 8},
    {"hcm-plugin-thr-creates", pic_counter(25), 8},
    {"hcm-plugin-no-thr-hdl", pic_counter(26), 8},
    {"hcm-plugin-thr-hdl-create-fail", pic_counter(27), 8},
    {"hcm-plugin-thr-hdl-store-fail", pic_counter(28), 8},
    {"hcm-plugin-thr-short-circuit-fail", pic_counter(29), 8},
    {"hcm-plugin-thr-state-update-fail", pic_counter(30), 8},
    {"hcm-plugin-thr-state-update", pic_counter(31), 8},
    {"hcm-plugin-thr-dstry-fail", pic_counter(32), 8},
    {"hcm-plugin-thr-dstry", pic_counter(33), 8},
    {"hcm-plugin-kolm-hdl-alloc", pic_counter(34), 8},
    {"hcm-plugin-kolm-hdl-alloc-fail", pic_counter(35), 8},
    {"hcm-plugin-hdr-insert", pic_counter(36), 8},
    {"hcm-plugin-hdr-insert-fail", pic_counter(37), 8},
    {"hcm-plugin-hdr-rename", pic_counter(38), 8},
    {"hcm-plugin-hdr-rename-fail", pic_counter(39), 8},
    {"hcm-plugin-ipv4-mask-modification", pic_counter(44), 8},
    {"hcm-plugin-ipv6-mask-modification", pic_counter(45), 8},
    {"hcm-plugin-tag-too-large", pic_counter(40), 8},
    {"hcm-plugin-tag-encrypt-fail", pic_counter(41), 8},
    {"hcm-plugin-total-request", pic_counter(42), 8},
    {"hcm-plugin-no-subsc", pic_counter(43), 8},
    {"hcm-plugin-missing-subsc-attribute", pic_counter(46), 8},
    {"hcm-plugin-missing-ipv4-attribute", pic_counter(47), 8},
    {"hcm-plugin-missing-ipv6-attribute", pic_counter(48), 8},
    {"hcm-plugin-both-ipv4-ipv6-attribute", pic_counter(49), 8},
};

int hcm_pic_stats_dump_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                             hcm_params *p) {
    if (!ctxt->xml) {
        std::fputs("vorel: only xml is supported\n", stdout);
        return -1;
    }
    // The service-PIC generation has no such plug-in.
    if (vorel_starts_with(asp->name, "sp") || vorel_starts_with(asp->name, "rsp")) {
        xml_send_all("interface-name", "%s", asp->name);
        vorel_xml_error(0, "This command is not supported on %s interface\n\n", asp->name);
        return 0;
    }
    return vorel_tally_exchange(
        conn, hcm_request(kPicStatsRequest, *p), kPicStatsReply, 1, kPicStatsReplySize, asp->name,
        short_reply::end_answer, [&](const vorel::ByteReader &reply) {
            if (p->stats_kind == HCM_CLEAR_PIC_STATS) {
                report_clear_once(p, "clear-service-hcm-pic-statistics-status",
                                  "clear-service-hcm-pic-stats-success");
            } else {
                xml_send_all("interface-name", "%s", asp->name);
                vorel_counters_emit(ctxt, {nullptr, kPicCounters}, reply, nullptr);
            }
        });
}

int hcm_pic_stats_dump_open(vorel_ctx *ctxt, hcm_params *p) {
    if (p->stats_kind != HCM_CLEAR_PIC_STATS)
        vorel_open_enclosing(ctxt, nullptr, "service-hcm-pic-statistics-information", nullptr);
    return 0;
}

int hcm_pic_stats_dump_close(vorel_ctx *ctxt, hcm_params *p) {
    if (p->stats_kind != HCM_CLEAR_PIC_STATS)
        vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

const vorel_action<hcm_params> hcm_cmd_handlers_table[] = {
    {"dump_stats", hcm_stats_dump_open, hcm_stats_dump_close, hcm_stats_dump_query},
    {"dump_pic_stats", hcm_pic_stats_dump_open, hcm_pic_stats_dump_close, hcm_pic_stats_dump_query},
    {"clear_stats", hcm_stats_dump_open, hcm_stats_dump_close, hcm_stats_dump_query},
    {"clear_pic_stats", hcm_pic_stats_dump_open, hcm_pic_stats_dump_close,
     hcm_pic_stats_dump_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Command line and the walk

constexpr vorel_subcommand<hcm_stats_kind> kSubcommands[] = {
    {"stats", "dump_stats", HCM_RULE_STATS},
    {"pic_stats", "dump_pic_stats", HCM_PIC_STATS},
    {"clear_stats", "clear_stats", HCM_CLEAR_RULE_STATS},
    {"clear_pic_stats", "clear_pic_stats", HCM_CLEAR_PIC_STATS},
};

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, hcm_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, p))
            continue;
        switch (c) {
        case 's':
            p->srv_set_name = vorel_optarg;
            break;
        case 'i':
            p->interface_name = vorel_optarg;
            break;
        case 'r':
            p->rule_name = vorel_optarg;
            break;
        default:
            break;
        }
    }
}

// The action named by -A, or derived from the command words; the kind of
// statistics follows from the action however it was chosen, so "-A
// clear_stats" clears as "-S clear_stats" does.
bool choose_action(hcm_params *p) {
    if (!p->action) {
        if (!p->command || *p->command != "hcm")
            return false;
        const auto *row = vorel_subcommand_find(kSubcommands, p->subcommand);
        if (!row)
            return false;
        p->action = row->action;
    }
    if (auto kind = vorel_subcommand_shared(kSubcommands, *p->action))
        p->stats_kind = *kind;
    return true;
}

// A plain "ms" record whose "mams" twin is in the snapshot: the aggregated
// member answers under its "mams" name.
bool has_mams_twin(const asp_info &asp) {
    if (!vorel_starts_with(asp.name, "ms"))
        return false;
    char mams_name[4 + ASP_NAME_LEN + 1];
    std::snprintf(mams_name, sizeof mams_name, "mams%.58s", asp.name + 2);
    return vorel_db_asp_find_by_name(mams_name) != nullptr;
}

// A logical unit ("ms-1/0/0.0") names the PIC it begins with.
bool names_pic(const hcm_params &p, const asp_info &asp) {
    return !p.interface_name || vorel_starts_with(p.interface_name->c_str(), asp.name);
}

bool admit(const asp_info &asp, const hcm_params &p) {
    if (!(asp.flags & ASP_F_MSP))
        return false;
    if (asp.ams_member_type != 0 && asp.ams_member_type != 2)
        return false;
    if (has_mams_twin(asp) || !names_pic(p, asp))
        return false;
    // Asked last: it runs a command on the PIC.
    return vorel_util_is_pkg_installed(asp.fpc_slot, asp.pic_slot, kPackage) == 1;
}

} // namespace

int vorel_handle_hcm_command(int argc, char **argv, vorel_ctx *ctxt) {
    hcm_params p;
    parse_options(argc, argv, ctxt, &p);
    if (!choose_action(&p))
        return vorel_note_no_action("hcm", p.command, p.subcommand);
    if (vorel_starts_with(p.action->c_str(), "dump_"))
        vorel_xml_only_view(ctxt, "the header-enrichment statistics view");

    pic_walk walk;
    walk.admit = [&p](const asp_info &asp) { return admit(asp, p); };
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::log_and_stop_walk;

    bool ran = false;
    int rc =
        vorel_run_action(hcm_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p,
                         "vorel_handle_hcm_command: hcm action %s is not supported yet\n", &ran);
    if (!ran)
        vorel_note_failure("hcm: unknown action %s", p.action->c_str());
    return rc;
}
