// -C lrf: the logging and reporting function of the service PICs, which
// exports flow records to collectors through templates: global, collector
// and rule statistics, their clears, and the field layout of a template.
// The views exist only in XML.
#include "vorel/vorel_cmd_lrf.h"

#include "platform/chassis.h"
#include "platform/xml.h"
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

constexpr size_t kRequestSize = 272;
constexpr size_t kCollectorOffset = 80;
constexpr size_t kRuleOffset = 144;
constexpr size_t kTemplateOffset = 208;
constexpr size_t kNameWidth = 64;

// Routing engines of this type carry the facility on every multiservices
// PIC, without the package.
constexpr int kReTypeWithoutPackage = 160;
constexpr const char *kPackage = "lrf";

enum lrf_stats_subcmd : uint32_t {
    LRF_STATS = 0,
    LRF_CLEAR_STATS = 1,
    LRF_CLEAR_COLLECTOR = 2,
    LRF_CLEAR_RULE = 3,
};

struct lrf_params {
    std::optional<std::string> action;
    std::optional<std::string> command;
    std::optional<std::string> collector;
    std::optional<std::string> template_name;
    std::optional<std::string> rule;
    std::optional<std::string> subcommand;
    uint32_t stats_subcmd = LRF_STATS;
    unsigned pics_asked = 0;
    // The routing engine carries the facility on every multiservices PIC.
    bool every_pic_has_facility = false;
};

// The template word; a missing one is the empty word.
const char *template_word(const lrf_params &p) {
    return p.template_name ? p.template_name->c_str() : "";
}

// ---------------------------------------------------------------------------
// Requests and the one exchange every query makes

// Which name a request carries, and where.
struct lrf_request_kind {
    uint16_t type;
    uint16_t reply;
    size_t name_offset; // 0: no name
};

vorel::ByteWriter lrf_request(const lrf_request_kind &kind, const lrf_params &p) {
    vorel::ByteWriter w = vorel_request(kind.type, 1, kRequestSize);
    const std::optional<std::string> *name = nullptr;
    if (kind.name_offset == kCollectorOffset)
        name = &p.collector;
    else if (kind.name_offset == kRuleOffset)
        name = &p.rule;
    else if (kind.name_offset == kTemplateOffset)
        name = &p.template_name;
    if (name && *name)
        w.text(kind.name_offset, kNameWidth, **name);
    return w;
}

using lrf_render_fn = void (*)(const vorel_ctx *ctxt, const asp_info &asp,
                               const vorel::ByteReader &reply, const lrf_params &p);

// Sends the request, renders the one reply (at least min_size bytes; a
// shorter one counts as none), and fails when a second one follows.
int lrf_exchange(const vorel_ctx *ctxt, services_ui_conn *conn, const asp_info &asp,
                 const lrf_params &p, const lrf_request_kind &kind, size_t min_size,
                 lrf_render_fn render) {
    return vorel_tally_exchange(
        conn, lrf_request(kind, p), kind.reply, 1, min_size, asp.name, short_reply::end_answer,
        [&](const vorel::ByteReader &reply) { render(ctxt, asp, reply, p); });
}

// A per-PIC subtree, closed and flushed on every way out.
struct lrf_pic_subtree {
    explicit lrf_pic_subtree(const char *element, const asp_info &asp) {
        xml_subtree_open(element);
        xml_send_all("interface-name", "%s", asp.name);
    }
    ~lrf_pic_subtree() {
        xml_subtree_close();
        xml_subtree_once();
    }
};

// ---------------------------------------------------------------------------
// Statistics

constexpr lrf_request_kind kStats{257, 258, 0};
constexpr lrf_request_kind kClearStats{261, 262, 0};
constexpr size_t kStatsReplySize = 112;

constexpr vorel_counter kStatsCounters[] = {
    {"flow-packets", 80, 8},
    {"flow-bytes", 88, 8},
    {"active-flows", 96, 8},
    {"total-flows", 104, 8},
};

void render_stats(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r,
                  const lrf_params &) {
    if (!r.has(0, kStatsReplySize))
        return;
    lrf_pic_subtree s("lrf-statistics", asp);
    vorel_counters_emit(ctxt, {nullptr, kStatsCounters}, r, nullptr);
}

// The clears answer with a status line of their own.
struct lrf_clear_status {
    const char *element;
    const char *status_element;
    const char *status;
};
constexpr lrf_clear_status kStatsCleared{"clear-lrf-statistics", "clear-lrf-statistics-status",
                                         "LRF statistics successfully cleared"};
constexpr lrf_clear_status kCollectorCleared{"clear-lrf-collector-statistics",
                                             "clear-lrf-collector-statistics-status",
                                             "LRF collector statistics successfully cleared"};
constexpr lrf_clear_status kRuleCleared{"clear-lrf-rule-statistics",
                                        "clear-lrf-rule-statistics-status",
                                        "LRF rule statistics successfully cleared"};

template <const lrf_clear_status &Status>
void render_cleared(const vorel_ctx *, const asp_info &asp, const vorel::ByteReader &,
                    const lrf_params &) {
    lrf_pic_subtree s(Status.element, asp);
    xml_send_all(Status.status_element, "%s", Status.status);
}

// A statistics page: its show and clear requests, the sub-command value
// that clears, the reply size the show needs, the renderers of both
// answers and the root elements of both.
struct lrf_page {
    lrf_request_kind show, clear;
    uint32_t clear_subcmd;
    size_t show_size;
    lrf_render_fn render, render_clear;
    const char *element, *clear_element;
};

template <const lrf_page &P>
int lrf_page_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                   lrf_params *p) {
    if (p->stats_subcmd == P.clear_subcmd)
        return lrf_exchange(ctxt, conn, *asp, *p, P.clear, SERVICES_UI_MSG_HDR_LEN, P.render_clear);
    return lrf_exchange(ctxt, conn, *asp, *p, P.show, P.show_size, P.render);
}

template <const lrf_page &P> int lrf_page_open(vorel_ctx *ctxt, lrf_params *p) {
    vorel_open_enclosing(ctxt, nullptr,
                         p->stats_subcmd == P.clear_subcmd ? P.clear_element : P.element, nullptr);
    return 0;
}

constexpr lrf_page kStatsPage{kStats,
                              kClearStats,
                              LRF_CLEAR_STATS,
                              kStatsReplySize,
                              render_stats,
                              render_cleared<kStatsCleared>,
                              "lrf-statistics-summary",
                              "clear-lrf-statistics-summary"};

// ---------------------------------------------------------------------------
// Collector statistics

constexpr lrf_request_kind kCollector{259, 260, kCollectorOffset};
constexpr lrf_request_kind kClearCollector{263, 264, kCollectorOffset};
constexpr size_t kCollectorReplySize = 124;

// In the order they are shown (the export failures come before the volume).
constexpr vorel_counter kCollectorCounters[] = {
    {"tmpl-reg", 80},          {"tmpl-reg-failures", 84},         {"tmpl-active", 88},
    {"sessions-received", 92}, {"sessions-ignored", 96},          {"records-logged", 100},
    {"rec-export", 104},       {"rec-export-failures", 120},      {"rec-export-volume", 108},
    {"rec-export-time", 112},  {"rec-export-session-close", 116},
};

void render_collector(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r,
                      const lrf_params &) {
    if (!r.has(0, kCollectorReplySize))
        return;
    lrf_pic_subtree s("lrf-collector-statistics", asp);
    vorel_counters_emit(ctxt, {nullptr, kCollectorCounters}, r, nullptr);
}

constexpr lrf_page kCollectorPage{kCollector,
                                  kClearCollector,
                                  LRF_CLEAR_COLLECTOR,
                                  kCollectorReplySize,
                                  render_collector,
                                  render_cleared<kCollectorCleared>,
                                  "lrf-collector-statistics-summary",
                                  "clear-lrf-collector-statistics-summary"};

// ---------------------------------------------------------------------------
// Rule statistics

constexpr lrf_request_kind kRule{265, 266, kRuleOffset};
constexpr lrf_request_kind kClearRule{267, 268, kRuleOffset};
constexpr size_t kRuleCountOffset = 80;
constexpr size_t kRuleRecordsOffset = 84;
constexpr size_t kRuleRecordSize = 360;
constexpr size_t kMaxRuleRecords = 4096;

constexpr vorel_counter kRuleCounters[] = {
    {"rule-sessions-received", 328},   {"rule-sessions-ignored", 332},
    {"rule-sessions-logged", 336},     {"rule-rec-export", 340},
    {"rule-rec-export-failures", 356}, {"rule-rec-export-volume", 344},
    {"rule-rec-export-time", 348},     {"rule-rec-export-session-close", 352},
};

void send_text(const char *element, std::string_view text) {
    xml_send_all(element, "%.*s", static_cast<int>(text.size()), text.data());
}

void render_rule_record(const vorel_ctx *ctxt, const vorel::ByteBlock<kRuleRecordSize> &rec) {
    send_text("rule-name", rec.text<0, kNameWidth>());
    send_text("rule-tmpl-name", rec.text<64, kNameWidth>());
    xml_send_all("rule-tmpl-reg", "%u", rec.be32<128>());
    xml_send_all("rule-tmpl-reg-failures", "%u", rec.be32<132>());
    send_text("rule-coll-name", rec.text<136, kNameWidth>());
    send_text("rule-coll-name", rec.text<200, kNameWidth>());
    send_text("rule-coll-name", rec.text<264, kNameWidth>());
    vorel_counters_emit(ctxt, {nullptr, kRuleCounters}, rec.reader(), nullptr);
}

void render_rules(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r,
                  const lrf_params &) {
    size_t n = r.clamp_count(r.be32(kRuleCountOffset), kRuleRecordsOffset, kRuleRecordSize,
                             kMaxRuleRecords);
    lrf_pic_subtree s("lrf-rule-statistics", asp);
    for (size_t i = 0; i < n; i++) {
        vorel::ByteBlock<kRuleRecordSize> rec;
        if (r.block(kRuleRecordsOffset + i * kRuleRecordSize, rec))
            render_rule_record(ctxt, rec);
    }
}

constexpr lrf_page kRulePage{kRule,
                             kClearRule,
                             LRF_CLEAR_RULE,
                             kRuleRecordsOffset,
                             render_rules,
                             render_cleared<kRuleCleared>,
                             "lrf-rule-statistics-summary",
                             "clear-lrf-rule-statistics-summary"};

// ---------------------------------------------------------------------------
// Templates

constexpr lrf_request_kind kTemplate{269, 270, kTemplateOffset};
constexpr size_t kFieldsOffset = 20;
constexpr size_t kFieldSize = 8;
constexpr uint16_t kVendorIbm = 17;

struct lrf_template_type {
    const char *name;
    std::initializer_list<const char *> fields;
};

const lrf_template_type kTemplateTypes[] = {
    {"ipv4", {"Ipv4 source address", "Ipv4 destination address"}},
    {"ipv4-extended", {"Ipv4 TOS", "Ipv4 nexthop", "Ipv4 source mask", "Ipv4 destination mask"}},
    {"ipv6", {"Ipv6 source address", "Ipv6 destination address"}},
    {"ipv6-extended",
     {"Ipv6 source mask", "Ipv6 destination mask", "Ipv6 nexthop", "Traffic class"}},
    {"transport-layer", {"TCP or UDP src port", "TCP or UDP dest port"}},
    {"flow-id", {"Flow Id"}},
    {"ipflow",
     {"Flow uplink bytes", "Flow downlink bytes", "Flow uplink packets", "Flow downlink packets",
      "Ip proto", "Record Reason"}},
    {"ipflow-ts", {"Flow Start millisecs", "Flow End millisecs"}},
    {"ipflow-extended", {"Service set name", "Routing-instance"}},
    {"device-data", {"DPI version", "Talvo IP"}},
    {"l7-app", {"Application proto", "Application name", "Host"}},
    {"http",
     {"User agent", "Content length", "Response code", "Language", "Host", "Location", "Method",
      "Referer", "MIME type", "URI", "Time to first byte"}},
    {"l7-stats",
     {"Acknowledged volumes uplink", "Acknowledged volumes downlink", "Start time", "End time",
      "Uplink bytes", "Downlink bytes", "Uplink packets", "Downlink packets"}},
    {"subscriber-data",
     {"Accounting session Id", "Subscriber type", "Subscriber IP addr", "Subscriber VRF",
      "NAS port Id", "NAS IP addr", "Radius Class", "NAS port type", "Calling station ID"}},
    {"ifl-subscriber", {"Subscriber name", "IFL name"}},
    {"wireline-subscriber", {"User name"}},
    {"mobile-subscriber", {"IMSI", "MSISDN", "IMEI", "RAT type", "ULI", "Called station ID"}},
    {"ipflow-tcp",
     {"Retransmitted TCP packets uplink", "Retransmitted TCP packets downlink",
      "TCP flow creation timestamp"}},
    {"ipflow-tcp-ts",
     {"Smooth RTT uplink", "Smooth RTT downlink", "Client setup Time", "Server Setup time",
      "Client first payload timestamp", "Upload time", "Server first payload timestamp",
      "Download time", "Acknowledged volumes uplink", "Acknowledged volumes downlink"}},
    {"video", {"Video bitrate", "Video duration"}},
    {"dns", {"DNS Response time"}},
    {"status-code-distribution",
     {"Status code 1", "Status code 2", "Status code 3", "Status code 4", "Status code 5",
      "Num Instances 1", "Num Instances 2", "Num Instances 3", "Num Instances 4",
      "Num Instances 5"}},
    {"pcc", {"PCC rule name"}},
};

} // namespace

// The type a template word selects: the first type that the word begins
// (compared over the word's length, at most the type's name and its
// terminator), so the empty word selects "ipv4"; null for none.
const char *lrf_template_type_of(const char *word) {
    size_t len = std::strlen(word);
    for (const lrf_template_type &t : kTemplateTypes) {
        size_t n = std::min(len, std::strlen(t.name) + 1);
        if (std::strncmp(t.name, word, n) == 0)
            return t.name;
    }
    return nullptr;
}

namespace {

const lrf_template_type *template_type(const char *word) {
    const char *name = lrf_template_type_of(word);
    for (const lrf_template_type &t : kTemplateTypes)
        if (name && std::strcmp(t.name, name) == 0)
            return &t;
    return nullptr;
}

const char *vendor_name(uint8_t enterprise, uint16_t vendor_index) {
    if (enterprise == 0)
        return "IETF";
    return vendor_index == kVendorIbm ? "IBM" : "Velmora";
}

// The template's fields go straight into the action's lrf-template element:
// those of its type that the reply holds (a reply needs only its head).
void render_template(const vorel_ctx *, const asp_info &, const vorel::ByteReader &r,
                     const lrf_params &p) {
    const lrf_template_type *type = template_type(template_word(p));
    if (!type)
        return;
    size_t off = kFieldsOffset;
    for (const char *field : type->fields) {
        vorel::ByteBlock<kFieldSize> f;
        if (!r.block(off, f))
            return;
        off += kFieldSize;
        xml_send_all("export-field", "%s", field);
        xml_send_all("export-field-id", "%u", f.be16<2>());
        xml_send_all("export-field-len", "%u", f.be16<4>());
        xml_send_all("export-field-vendor", "%s", vendor_name(f.u8<6>(), f.be16<0>()));
    }
}

int lrf_template_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                       lrf_params *p) {
    return lrf_exchange(ctxt, conn, *asp, *p, kTemplate, kFieldsOffset, render_template);
}

// ---------------------------------------------------------------------------
// Open and close: the action's outer element

int lrf_template_open(vorel_ctx *ctxt, lrf_params *p) {
    vorel_open_enclosing(ctxt, nullptr, "lrf-template", nullptr,
                         {xml_attribute("template-type", template_word(*p))});
    return 0;
}
int lrf_close(vorel_ctx *ctxt, lrf_params *) {
    vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

const vorel_action<lrf_params> lrf_cmd_handlers_table[] = {
    {"dump_stats", lrf_page_open<kStatsPage>, lrf_close, lrf_page_query<kStatsPage>},
    {"clear_stats", lrf_page_open<kStatsPage>, lrf_close, lrf_page_query<kStatsPage>},
    {"dump_collector", lrf_page_open<kCollectorPage>, lrf_close, lrf_page_query<kCollectorPage>},
    {"clear_collector", lrf_page_open<kCollectorPage>, lrf_close, lrf_page_query<kCollectorPage>},
    {"dump_rule", lrf_page_open<kRulePage>, lrf_close, lrf_page_query<kRulePage>},
    {"clear_rule", lrf_page_open<kRulePage>, lrf_close, lrf_page_query<kRulePage>},
    {"dump_template", lrf_template_open, lrf_close, lrf_template_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Command line and the walk

constexpr vorel_subcommand<uint32_t> kSubcommands[] = {
    {"statistics", "dump_stats", LRF_STATS},
    {"collector", "dump_collector", LRF_STATS},
    {"template", "dump_template", LRF_STATS},
    {"rule", "dump_rule", LRF_STATS},
    {"clear_stats", "clear_stats", LRF_CLEAR_STATS},
    {"clear_collector", "clear_collector", LRF_CLEAR_COLLECTOR},
    {"clear_rule", "clear_rule", LRF_CLEAR_RULE},
};

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, lrf_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'C':
            p->command = vorel_optarg;
            break;
        case 'O':
            p->collector = vorel_optarg;
            break;
        case 'P':
            p->template_name = vorel_optarg;
            break;
        case 'R':
            p->rule = vorel_optarg;
            break;
        case 'S':
            p->subcommand = vorel_optarg;
            break;
        default:
            break;
        }
    }
}

bool choose_action(lrf_params *p) {
    if (!p->command || *p->command != "lrf")
        return false;
    const auto *row = vorel_subcommand_find(kSubcommands, p->subcommand);
    if (!row)
        return false;
    p->action = row->action;
    p->stats_subcmd = row->settings;
    return true;
}

// A bundle record whose member is in the snapshot under its "ms" name:
// the member answers for it.
bool has_ms_member(const asp_info &asp) {
    if (!vorel_starts_with(asp.name, "mams"))
        return false;
    char ms_name[2 + 60 + 1]; // "ms" and at most 60 characters of the rest
    std::snprintf(ms_name, sizeof ms_name, "ms%.60s", asp.name + 4);
    return vorel_db_asp_find_by_name(ms_name) != nullptr;
}

bool facility_present(const asp_info &asp, const lrf_params &p) {
    return p.every_pic_has_facility ||
           vorel_util_is_pkg_installed(asp.fpc_slot, asp.pic_slot, kPackage) == 1;
}

bool admit(const asp_info &asp, const lrf_params &p) {
    // A template is asked of one PIC only.
    if (p.action && *p.action == "dump_template" && p.pics_asked > 0)
        return false;
    if (!(asp.flags & ASP_F_MSP))
        return false;
    if (asp.ams_member_type != 0 && asp.ams_member_type != 2)
        return false;
    return !has_ms_member(asp) && facility_present(asp, p);
}

} // namespace

int vorel_handle_lrf_command(int argc, char **argv, vorel_ctx *ctxt) {
    lrf_params p;
    parse_options(argc, argv, ctxt, &p);
    if (!choose_action(&p))
        return vorel_note_no_action("lrf", p.command, p.subcommand);
    if (vorel_starts_with(p.action->c_str(), "dump_"))
        vorel_xml_only_view(ctxt, "the logging and reporting view");

    // The routing engine's type is asked once per run.
    p.every_pic_has_facility = get_re_type() == kReTypeWithoutPackage;

    pic_walk walk;
    walk.admit = [&p](const asp_info &asp) { return admit(asp, p); };
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    walk.after_close = [&p](const asp_info &) { p.pics_asked++; };

    bool ran = false;
    int rc =
        vorel_run_action(lrf_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p, nullptr, &ran);
    if (!ran)
        vorel_note_failure("lrf: unknown action %s", p.action->c_str());
    return rc;
}
