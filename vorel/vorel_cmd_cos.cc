// -C cos: per service set (or per PIC) how many packets the service PIC
// received and marked with each DSCP code point, and received in and
// assigned to each forwarding class; and the clear of those counters.
// The view exists only in XML.
#include "platform/chassis.h"
#include "platform/logging.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_tally.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <syslog.h>

namespace {

constexpr uint16_t kStatsRequest = 107;
constexpr uint16_t kStatsReply = 108;
constexpr size_t kRequestSize = 24;
constexpr size_t kReplySize = 664;

// What the request asks for (and the reply says it holds).
constexpr uint32_t kTypeAll = 1;
constexpr uint32_t kTypeDscp = 2;
constexpr uint32_t kTypeForwardingClass = 3;
constexpr uint32_t kTypeClear = 4;

constexpr uint32_t kLevelSummary = 3;

constexpr unsigned kCodePoints = 64;
constexpr unsigned kReplyForwardingClasses = 16;

struct cos_params {
    std::optional<std::string> action;
    std::optional<std::string> svc_set_name;
    std::optional<std::string> pic_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    uint32_t stats_type = 0;
    uint32_t level = 0;
    uint8_t pic_based = 0;
};

// The reply: counters per code point and per forwarding class.
struct cos_reply {
    vorel::ByteBlock<kReplySize> b;
    uint32_t stats_type() const { return b.be32<16>(); }
    vorel::ByteReader counters() const { return b.reader(); }
};
constexpr size_t kDscpReceived = 24;
constexpr size_t kDscpMarked = 280;
constexpr size_t kClassReceived = 536;
constexpr size_t kClassAssigned = 600;

// A code point in base 2 with six digits (46 is 101110).
void dscp_bits(unsigned code_point, char out[7]) {
    for (int bit = 5; bit >= 0; bit--)
        out[5 - bit] = (code_point >> bit) & 1 ? '1' : '0';
    out[6] = '\0';
}

void render_dscp(const vorel::ByteReader &r) {
    xml_send_open("cos-stats-service-set-dscp-information");
    for (unsigned cp = 0; cp < kCodePoints; cp++) {
        char bits[7];
        dscp_bits(cp, bits);
        xml_send_open("cos-stats-service-set-dscp-entry");
        xml_send_all("received-dscp", "%s", bits);
        xml_send_all("total-received-dscp-packets", "%u", r.be32(kDscpReceived + 4 * cp));
        xml_send_all("total-marked-dscp-packets", "%u", r.be32(kDscpMarked + 4 * cp));
        xml_send_close("cos-stats-service-set-dscp-entry");
    }
    xml_send_close("cos-stats-service-set-dscp-information");
}

// The platform's forwarding classes, as many as the reply carries at most.
unsigned forwarding_classes() {
    unsigned n = product_max_forwarding_classes();
    return n < kReplyForwardingClasses ? n : kReplyForwardingClasses;
}

void render_forwarding_classes(const vorel::ByteReader &r) {
    xml_send_open("cos-stats-service-set-forwarding-class-information");
    for (unsigned fc = 0, n = forwarding_classes(); fc < n; fc++) {
        xml_send_open("cos-stats-service-set-forwarding-class-entry");
        xml_send_all("received-forwarding-class", "%u", fc);
        xml_send_all("total-received-forwarding-class-packets", "%u",
                     r.be32(kClassReceived + 4 * fc));
        xml_send_all("total-assigned-forwarding-class-packets", "%u",
                     r.be32(kClassAssigned + 4 * fc));
        xml_send_close("cos-stats-service-set-forwarding-class-entry");
    }
    xml_send_close("cos-stats-service-set-forwarding-class-information");
}

void render_entry(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info *svc_set,
                  const cos_reply &reply) {
    vorel_section entry(ctxt, "service-cos-statistics-entry");
    entry.open();
    xml_send_all("interface-name", "%s", asp.name);
    if (svc_set)
        xml_send_all("service-set-name", "%.*s", static_cast<int>(SVC_SET_NAME_LEN), svc_set->name);
    uint32_t type = reply.stats_type();
    if (type == kTypeAll || type == kTypeDscp)
        render_dscp(reply.counters());
    if (type == kTypeAll || type == kTypeForwardingClass)
        render_forwarding_classes(reply.counters());
}

int cos_stats_query(vorel_ctx *ctxt, services_ui_conn *asp_conn, asp_info *asp,
                    svc_set_info *svc_set, cos_params *params) {
    vorel::ByteWriter req =
        vorel_request(kStatsRequest, 1, kRequestSize, svc_set ? svc_set->id : 0);
    req.u8(8, svc_set ? svc_set->style : 'B');
    req.be32(16, params->stats_type);
    req.be32(20, params->level);
    bool answered = false;
    int rc = vorel_tally_exchange<kReplySize>(
        asp_conn, req, kStatsReply, 1, asp->name, short_reply::end_answer,
        [&](const vorel::ByteBlock<kReplySize> &b) {
            if (params->stats_type != kTypeClear)
                render_entry(ctxt, *asp, svc_set, cos_reply{b});
        },
        &answered);
    if (rc == 0 && !answered) {
        // The command ends here, and an answer without statistics is a
        // failure too.
        vorel_note_unanswered(asp_conn, asp->name, true);
        return -1;
    }
    return rc;
}

const char *root_style(const cos_params *params) {
    return params->level < kLevelSummary ? "brief" : "summary";
}

int cos_stats_open(vorel_ctx *ctxt, cos_params *params) {
    vorel_open_enclosing(ctxt, nullptr, "service-cos-statistics-information", nullptr,
                         {xml_attr_style(root_style(params))});
    return 0;
}

// Closes what open opened, the clear's root element included.
int cos_stats_close(vorel_ctx *ctxt, cos_params *) {
    vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

const vorel_action<cos_params> cos_cmd_handlers_table[] = {
    {"dump_stats", cos_stats_open, cos_stats_close, cos_stats_query},
    {"clear_stats", cos_stats_open, cos_stats_close, cos_stats_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// The sub-commands of "cos": the action each names and the statistics type
// it asks for.  -A dump_stats, which several rows name, asks for type 0:
// the reply then says what it holds.
constexpr vorel_subcommand<uint32_t> kSubcommands[] = {
    {"stats", "dump_stats", kTypeAll},
    {"clear_stats", "clear_stats", kTypeClear},
    {"stats_diffserv", "dump_stats", kTypeDscp},
    {"stats_fwdclass", "dump_stats", kTypeForwardingClass},
};

void set_level(const char *word, cos_params *p) {
    switch (word[0]) {
    case 'b':
        p->level = 0;
        break;
    case 'd':
        p->level = 1;
        break;
    case 'x':
        p->level = 2;
        break;
    case 's':
        p->level = kLevelSummary;
        break;
    default:
        break;
    }
}

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, cos_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, p))
            continue;
        switch (c) {
        case 'V':
            set_level(vorel_optarg, p);
            break;
        case 'i':
            p->pic_name = vorel_optarg;
            break;
        case 's':
            p->svc_set_name = vorel_optarg;
            break;
        case 't':
            debug = 1;
            break;
        default:
            break;
        }
    }
}

void choose_action(cos_params *p) {
    if (p->action) {
        p->stats_type = vorel_subcommand_shared(kSubcommands, *p->action).value_or(0);
        return;
    }
    if (!p->command || *p->command != "cos")
        return;
    if (const auto *row = vorel_subcommand_find(kSubcommands, p->subcommand)) {
        p->action = row->action;
        p->stats_type = row->settings;
    }
}

void log_run(const cos_params &p) {
    if (!debug)
        return;
    logging_event(LOG_ERR, "VOREL_COS_DUMP", {"command", "command-type", "name", "interface-name"},
                  "VOREL_COS_DUMP: vorel: command: %s, subcommand: %s \nvorel: svc_set_name: %s, "
                  "interface_name: %s,\nvorel: type: %d, action_name: %s,\nvorel: stats_subcmd: "
                  "%d, pic_based: %d\n",
                  vorel_str_or_null(vorel_text(p.command)),
                  vorel_str_or_null(vorel_text(p.subcommand)),
                  vorel_str_or_null(vorel_text(p.svc_set_name)),
                  vorel_str_or_null(vorel_text(p.pic_name)), static_cast<int>(p.stats_type),
                  vorel_str_or_null(vorel_text(p.action)), static_cast<int>(p.level), p.pic_based);
}

services_ui_conn *open_cos_channel(const asp_info &asp) {
    return services_ui_open(asp.fpc_slot, asp.pic_slot, SERVICES_UI_PIC_PORT, vorel_fatal_error);
}

} // namespace

int vorel_handle_cos_command(int argc, char **argv, vorel_ctx *ctxt) {
    cos_params p;
    parse_options(argc, argv, ctxt, &p);
    choose_action(&p);
    if (p.level == kLevelSummary)
        p.pic_based = 1;
    log_run(p);
    if (!p.action)
        return vorel_note_no_action("cos", p.command, p.subcommand);
    if (*p.action == "dump_stats")
        vorel_xml_only_view(ctxt, "the class-of-service statistics");

    pic_walk walk;
    walk.pic_name = vorel_text(p.pic_name);
    walk.open_channel = open_cos_channel;
    walk.on_open_failure = open_failure::log_and_stop_walk;
    walk.loop = p.pic_based ? vorel_loop_pic() : vorel_loop_svc_sets(vorel_text(p.svc_set_name));

    bool ran = false;
    int rc =
        vorel_run_action(cos_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p, nullptr, &ran);
    if (!ran)
        vorel_note_failure("cos: unknown action %s", p.action->c_str());
    return rc;
}
