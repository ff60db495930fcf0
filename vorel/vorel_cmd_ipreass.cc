// -C inline-ip-reass and -C inline-ipv6-reass: the statistics of the IP
// fragment reassembly that line cards perform inline, shown (XML only) or
// cleared.  The target is a line card chosen by FPC slot, by service
// interface, or every line card whose board reassembles inline; each is
// asked through its inline-services agent (port 33019), and the counters
// of all its PFEs are shown as one summed entry.
#include "platform/chassis.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The reply: up to 16 per-PFE records, then their number.
constexpr size_t kRecordsOffset = 16;
constexpr size_t kRecordSize = 704;
constexpr size_t kMaxRecords = 16;
constexpr size_t kCountOffset = 11280;
constexpr size_t kReplySize = kCountOffset + 4;
// A record holds 20 counter blocks of four 64-bit numbers: packets, packet
// rate, fragments, fragment rate (the rest of the record is not read).
constexpr size_t kBlocks = 20;
constexpr size_t kBlockSize = 32;
constexpr size_t kSummedSize = kBlocks * kBlockSize;

constexpr uint8_t kStyleInline = 'L';
constexpr unsigned long long kMaxSlot = 65535;

struct reass_params;

// What differs between the IPv4 and the IPv6 command.
struct reass_family {
    const char *command;
    const char *show_action, *clear_action;
    uint32_t show_subcmd, clear_subcmd;
    const char *cleared_text;
    const char *open_name, *query_name; // in the texts that name an operation
    int open_line, query_line;
    uint16_t request_type, reply_type;
    size_t request_size;
    void (*fill)(vorel::ByteWriter &req, const reass_params &p);
};

struct reass_params {
    const reass_family *family = nullptr;
    std::optional<std::string> action;
    bool pic_present = false;
    bool fpc_present = false;
    uint32_t fpc = 0;
    uint32_t pic = 0; // the PFE number
    std::optional<std::string> if_name;
    std::optional<std::string> subcommand;
    uint32_t stats_subcmd = 0;
    // Run state: what the open opened, and whether a request went out.
    bool opened = false;
    bool reached = false;
};

bool clearing(const reass_params &p) {
    return p.stats_subcmd == p.family->clear_subcmd;
}

void fill_ipv4(vorel::ByteWriter &req, const reass_params &p) {
    req.be16(16, static_cast<uint16_t>(p.stats_subcmd));
    req.be16(18, p.pic_present ? 1 : 0);
    req.be16(20, static_cast<uint16_t>(p.pic));
}

void fill_ipv6(vorel::ByteWriter &req, const reass_params &p) {
    req.be32(16, p.stats_subcmd);
    req.be16(20, p.pic_present ? 1 : 0);
    req.be32(24, p.pic);
}

const reass_family kIpv4 = {
    "inline-ip-reass",
    "dump_ip_reass_stats",
    "clear_ip_reass_stats",
    0,
    1,
    "Cleared inline ip-reassembly statistics.\n",
    "si_ip_reass_stats_dump_open",
    "si_ip_reass_stats_dump_query",
    166,
    251,
    179,
    180,
    24,
    fill_ipv4,
};

const reass_family kIpv6 = {
    "inline-ipv6-reass",
    "dump_ipv6_reass_stats",
    "clear_ipv6_reass_stats",
    2,
    3,
    "Cleared inline ipv6-reassembly statistics.\n",
    "si_ipv6_reass_stats_dump_open",
    "si_ipv6_reass_stats_dump_query",
    312,
    397,
    319,
    320,
    32,
    fill_ipv6,
};

// ---------------------------------------------------------------------------
// The summed counters

// Offsets in the summed block (laid out like one record's counter blocks).
constexpr uint16_t packets(size_t block) {
    return static_cast<uint16_t>(block * kBlockSize);
}
constexpr uint16_t packet_rate(size_t block) {
    return static_cast<uint16_t>(block * kBlockSize + 8);
}
constexpr uint16_t fragments(size_t block) {
    return static_cast<uint16_t>(block * kBlockSize + 16);
}
constexpr uint16_t fragment_rate(size_t block) {
    return static_cast<uint16_t>(block * kBlockSize + 24);
}

// The entry's counters in the order shown: every block's packets (and
// rate), then the fragments (and rate) of the blocks that count them.
constexpr vorel_counter kReassCounters[] = {
    {"si-ip-reass-total-fragments-rcvd", packets(0), 8},
    {"si-ip-reass-total-fragments-rcvd-rate", packet_rate(0), 8},
    {"si-ip-reass-first-fragments-rcvd", packets(1), 8},
    {"si-ip-reass-first-fragments-rcvd-rate", packet_rate(1), 8},
    {"si-ip-reass-inter-fragments-rcvd", packets(2), 8},
    {"si-ip-reass-inter-fragments-rcvd-rate", packet_rate(2), 8},
    {"si-ip-reass-last-fragments-rcvd", packets(3), 8},
    {"si-ip-reass-last-fragments-rcvd-rate", packet_rate(3), 8},
    {"si-ip-reass-packets-reassembled", packets(4), 8},
    {"si-ip-reass-packets-reassembled-rate", packet_rate(4), 8},
    {"si-ip-reass-packets-pending-reassembly", packets(5), 8},
    {"si-ip-reass-total-dropped-reasons", packets(6), 8},
    {"si-ip-reass-total-dropped-reasons-rate", packet_rate(6), 8},
    {"si-ip-reass-no-buffers", packets(7), 8},
    {"si-ip-reass-no-buffers-rate", packet_rate(7), 8},
    {"si-ip-reass-exceeded-max-frag-supported", packets(8), 8},
    {"si-ip-reass-exceeded-max-frag-supported-rate", packet_rate(8), 8},
    {"si-ip-reass-exceeded-packet-length", packets(9), 8},
    {"si-ip-reass-exceeded-packet-length-rate", packet_rate(9), 8},
    {"si-ip-reass-record-insert-error", packets(10), 8},
    {"si-ip-reass-record-insert-error-rate", packet_rate(10), 8},
    {"si-ip-reass-record-in-use", packets(11), 8},
    {"si-ip-reass-record-in-use-rate", packet_rate(11), 8},
    {"si-ip-reass-dupl-first-frag", packets(12), 8},
    {"si-ip-reass-dupl-first-frag-rate", packet_rate(12), 8},
    {"si-ip-reass-dupl-last-frag", packets(13), 8},
    {"si-ip-reass-dupl-last-frag-rate", packet_rate(13), 8},
    {"si-ip-reass-miss-first-frag", packets(14), 8},
    {"si-ip-reass-miss-first-frag-rate", packet_rate(14), 8},
    {"si-ip-reass-total-reass-error-reasons", packets(15), 8},
    {"si-ip-reass-total-reass-error-reasons-rate", packet_rate(15), 8},
    {"si-ip-reass-fragment-not-found", packets(16), 8},
    {"si-ip-reass-fragment-not-found-rate", packet_rate(16), 8},
    {"si-ip-reass-fragment-not-in-seq", packets(17), 8},
    {"si-ip-reass-fragment-not-in-seq-rate", packet_rate(17), 8},
    {"si-ip-reass-asic-errors", packets(18), 8},
    {"si-ip-reass-asic-errors-rate", packet_rate(18), 8},
    {"si-ip-reass-aged-out-packets", packets(19), 8},
    {"si-ip-reass-aged-out-packets-rate", packet_rate(19), 8},
    {"si-ip-reass-packets-reassembled-fragcnt", fragments(4), 8},
    {"si-ip-reass-packets-reassembled-fragcnt-rate", fragment_rate(4), 8},
    {"si-ip-reass-total-dropped-errors-fragcnt", fragments(6), 8},
    {"si-ip-reass-total-dropped-errors-fragcnt-rate", fragment_rate(6), 8},
    {"si-ip-reass-no-buffers-fragcnt", fragments(7), 8},
    {"si-ip-reass-no-buffers-fragcnt-rate", fragment_rate(7), 8},
    {"si-ip-reass-exceeded-max-frag-supported-fragcnt", fragments(8), 8},
    {"si-ip-reass-exceeded-max-frag-supported-fragcnt-rate", fragment_rate(8), 8},
    {"si-ip-reass-exceeded-packet-length-fragcnt", fragments(9), 8},
    {"si-ip-reass-exceeded-packet-length-fragcnt-rate", fragment_rate(9), 8},
    {"si-ip-reass-record-insert-error-fragcnt", fragments(10), 8},
    {"si-ip-reass-record-insert-error-fragcnt-rate", fragment_rate(10), 8},
    {"si-ip-reass-record-in-use-fragcnt", fragments(11), 8},
    {"si-ip-reass-record-in-use-fragcnt-rate", fragment_rate(11), 8},
    {"si-ip-reass-dupl-first-frag-fragcnt", fragments(12), 8},
    {"si-ip-reass-dupl-first-frag-fragcnt-rate", fragment_rate(12), 8},
    {"si-ip-reass-dupl-last-frag-fragcnt", fragments(13), 8},
    {"si-ip-reass-dupl-last-frag-fragcnt-rate", fragment_rate(13), 8},
    {"si-ip-reass-miss-first-frag-fragcnt", fragments(14), 8},
    {"si-ip-reass-miss-first-frag-fragcnt-rate", fragment_rate(14), 8},
    {"si-ip-reass-fragment-not-found-fragcnt", fragments(16), 8},
    {"si-ip-reass-fragment-not-found-fragcnt-rate", fragment_rate(16), 8},
    {"si-ip-reass-fragment-not-in-seq-fragcnt", fragments(17), 8},
    {"si-ip-reass-fragment-not-in-seq-fragcnt-rate", fragment_rate(17), 8},
    {"si-ip-reass-asic-errors-fragcnt", fragments(18), 8},
    {"si-ip-reass-asic-errors-fragcnt-rate", fragment_rate(18), 8},
    {"si-ip-reass-aged-out-packets-fragcnt", fragments(19), 8},
    {"si-ip-reass-aged-out-packets-fragcnt-rate", fragment_rate(19), 8},
};

// Every counter of the records that arrived (at most the 16 the reply has
// room for), summed; a sum that would pass 64 bits stays at the largest
// value.
vorel::ByteWriter sum_records(const vorel::ByteReader &reply) {
    size_t n =
        reply.clamp_count(reply.be32(kCountOffset), kRecordsOffset, kRecordSize, kMaxRecords);
    std::array<uint64_t, kSummedSize / 8> sums{};
    for (size_t r = 0; r < n; r++)
        for (size_t i = 0; i < sums.size(); i++) {
            uint64_t v = reply.be64(kRecordsOffset + r * kRecordSize + i * 8);
            sums[i] = sums[i] > UINT64_MAX - v ? UINT64_MAX : sums[i] + v;
        }
    vorel::ByteWriter out(kSummedSize);
    for (size_t i = 0; i < sums.size(); i++)
        out.be64(i * 8, sums[i]);
    return out;
}

void render_entry(const vorel_ctx *ctxt, const reass_params &p, const vorel::ByteReader &reply) {
    vorel::ByteWriter summed = sum_records(reply);
    vorel_section entry(ctxt, "inline-ip-reass-statistics-entry", {xml_attr_style("summary")});
    entry.open();
    if (p.if_name) {
        xml_send_all("si-ip-reass-intf", "%s", p.if_name->c_str());
    } else {
        xml_send_all("si-ip-reass-fpc-slot", "%u", p.fpc);
        if (p.pic_present)
            xml_send_all("si-ip-reass-pfe-slot", "%u", p.pic);
    }
    vorel_counters_emit(ctxt, {nullptr, kReassCounters}, vorel::ByteReader(summed.buffer()),
                        nullptr);
}

// ---------------------------------------------------------------------------
// Open, query, close

int reass_stats_open(vorel_ctx *ctxt, reass_params *p) {
    if (clearing(*p))
        return 0;
    vorel_open_enclosing(ctxt, nullptr, "inline-ip-reass-statistics-information", nullptr);
    p->opened = true;
    if (!ctxt->xml)
        std::printf("%s:%d command failed \n", p->family->open_name, p->family->open_line);
    return 0;
}

// Closes only what the open opened (a clear opened nothing).
int reass_stats_close(vorel_ctx *ctxt, reass_params *p) {
    if (p->opened)
        vorel_close_enclosing(ctxt, nullptr, nullptr);
    p->opened = false;
    return 0;
}

// Asks one line card.  asp is the service interface when the target was
// named with -i (its slots are the FPC and PFE asked about), null on the
// FPC walks (which set fpc themselves).
int reass_stats_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                      reass_params *p) {
    const reass_family &f = *p->family;
    if (asp) {
        p->fpc = asp->fpc_slot;
        p->pic = asp->pic_slot;
    }
    vorel::ByteWriter req = vorel_request(f.request_type, 1, f.request_size);
    req.u8(8, kStyleInline);
    f.fill(req, *p);
    if (vorel_send(conn, req) < 0) {
        vorel_user_message(" closing the connection\n");
        return -1;
    }
    p->reached = true;
    if (clearing(*p))
        return 0;
    char who[32];
    std::snprintf(who, sizeof who, "fpc %u", p->fpc);
    vorel::ByteReader reply =
        vorel_receive_at_least(conn, f.reply_type, 1, kReplySize, who, short_reply::end_answer);
    if (reply.empty()) {
        vorel_user_message("%s:%d: stats reply failure\n", f.query_name, f.query_line);
        return 0;
    }
    render_entry(ctxt, *p, reply);
    return 0;
}

const vorel_action<reass_params> si_ip_reass_cmd_handlers_table[] = {
    {"dump_ip_reass_stats", reass_stats_open, reass_stats_close, reass_stats_query},
    {"clear_ip_reass_stats", reass_stats_open, reass_stats_close, reass_stats_query},
    {nullptr, nullptr, nullptr, nullptr},
};

const vorel_action<reass_params> si_ipv6_reass_cmd_handlers_table[] = {
    {"dump_ipv6_reass_stats", reass_stats_open, reass_stats_close, reass_stats_query},
    {"clear_ipv6_reass_stats", reass_stats_open, reass_stats_close, reass_stats_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// The walks

// The target named with -i: the service interfaces of that name, each on
// its line card.  No hardware database is needed to find them.
int run_on_interface(const vorel_action<reass_params> &row, vorel_ctx *ctxt, reass_params *p) {
    pic_walk walk;
    walk.records = walk_records::service_interfaces;
    walk.pic_name = p->if_name->c_str();
    walk.open_channel = vorel_open_inline_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    return vorel_run_driver(walk, row, ctxt, p);
}

// The slot a line card is reached at: in a virtual chassis the member's
// first slot plus the local slot.
unsigned chassis_slot(unsigned fpc) {
    return static_cast<unsigned>(mchassis_get_lcc_number()) *
               static_cast<unsigned>(mchassis_get_max_fpc_slots_per_lcc()) +
           fpc;
}

// One line card: open its channel, query, close.  A failed open ends the
// run where the target was explicit (the fatal routine reports it) and is
// reported and passed over on the walk of every slot.
int ask_line_card(const vorel_action<reass_params> &row, vorel_ctx *ctxt, reass_params *p,
                  unsigned slot, bool explicit_target) {
    pic_channel ch(services_inline_ui_open(slot, SERVICES_UI_INLINE_PORT,
                                           explicit_target ? vorel_fatal_error : vorel_xml_error));
    if (!ch) {
        vorel_xml_error(0, "vorel: failed to open connection\n");
        return explicit_target ? -1 : 0;
    }
    return row.query(ctxt, ch.get(), nullptr, nullptr, p);
}

bool board_reassembles(unsigned fpc) {
    uint32_t board = 0;
    return hwdb_fpc_get_uint(fpc, FPC_I2C_ID, &board) >= 0 && product_inline_reass_board(board);
}

// The chassis reports how many FPC slots it has; they are 0 to count - 1.
unsigned fpc_slot_count() {
    return static_cast<unsigned>(norix_product_info_get_chassis_max_fpc_slots()) & 0xff;
}

int walk_line_cards(const vorel_action<reass_params> &row, vorel_ctx *ctxt, reass_params *p) {
    if (product_walks_all_fpcs()) {
        if (p->fpc_present)
            return ask_line_card(row, ctxt, p, p->fpc, true);
        for (unsigned slot = 0, n = fpc_slot_count(); slot < n; slot++) {
            p->fpc = slot;
            if (ask_line_card(row, ctxt, p, slot, true) < 0)
                return -1;
        }
        return 0;
    }
    if (p->fpc_present) {
        if (!board_reassembles(p->fpc)) {
            if (!ctxt->xml)
                vorel_note_failure("FPC %u does not perform inline reassembly", p->fpc);
            return 0;
        }
        return ask_line_card(row, ctxt, p, chassis_slot(p->fpc), true);
    }
    for (unsigned slot = 0, n = fpc_slot_count(); slot < n; slot++) {
        if (!board_reassembles(slot))
            continue;
        p->fpc = slot;
        if (ask_line_card(row, ctxt, p, chassis_slot(slot), false) < 0)
            return -1;
    }
    return 0;
}

// The targets chosen by FPC: the hardware database says which boards
// reassemble inline; without it nothing is asked.
int run_on_line_cards(const vorel_action<reass_params> &row, vorel_ctx *ctxt, reass_params *p) {
    if (hwdb_open_db(nullptr, 0, HWDB_MODE_READONLY) < 0) {
        if (!ctxt->xml)
            vorel_note_failure("no hardware database; no line card was asked");
        return 0;
    }
    row.open(ctxt, p);
    int rc = walk_line_cards(row, ctxt, p);
    hwdb_close_db();
    if (rc < 0)
        return -1;
    row.close(ctxt, p);
    return 0;
}

// ---------------------------------------------------------------------------
// The handler

bool parse_number(const char *word, const char *what, uint32_t *out) {
    unsigned long long v = 0;
    if (!vorel_parse_decimal(word, kMaxSlot, &v)) {
        vorel_user_message("vorel: invalid %s %s\n", what, vorel_str_or_null(word));
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

bool parse_options(int argc, char **argv, const vorel_ctx *ctxt, reass_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'F':
            if (!parse_number(vorel_optarg, "FPC slot", &p->fpc))
                return false;
            p->fpc_present = true;
            break;
        case 'P':
            if (!parse_number(vorel_optarg, "PFE number", &p->pic))
                return false;
            p->pic_present = true;
            break;
        case 'S':
            p->subcommand = vorel_optarg;
            break;
        case 'i':
            p->if_name = vorel_optarg;
            break;
        default:
            break;
        }
    }
    return true;
}

// The action the sub-command names; the clear says so before anything is
// sent.  False for an unknown sub-command.
bool choose_action(reass_params *p) {
    const reass_family &f = *p->family;
    if (p->subcommand && *p->subcommand == "stats") {
        p->action = f.show_action;
        p->stats_subcmd = f.show_subcmd;
        return true;
    }
    if (p->subcommand && *p->subcommand == "clear_stats") {
        vorel_user_message("%s", f.cleared_text);
        p->action = f.clear_action;
        p->stats_subcmd = f.clear_subcmd;
        return true;
    }
    vorel_note_failure("%s: unknown sub-command %s", f.command,
                       vorel_str_or_null(p->subcommand ? p->subcommand->c_str() : nullptr));
    return false;
}

int run_reass_command(int argc, char **argv, vorel_ctx *ctxt, const reass_family &family,
                      const vorel_action<reass_params> *table) {
    reass_params p;
    p.family = &family;
    if (!parse_options(argc, argv, ctxt, &p))
        return -1;
    if (p.pic_present && !p.fpc_present) {
        vorel_user_message("Specify a FPC slot\n");
        return 0;
    }
    if (!choose_action(&p))
        return -1;
    if (!clearing(p))
        vorel_xml_only_view(ctxt, "the inline reassembly statistics");
    const vorel_action<reass_params> *row = vorel_find_action(table, p.action->c_str(), nullptr);
    if (!row)
        return -1;
    int rc;
    if (p.if_name && !vorel_starts_with(p.if_name->c_str(), "si")) {
        vorel_note_failure("%s is not a service interface", p.if_name->c_str());
        rc = -1;
    } else {
        rc = p.if_name ? run_on_interface(*row, ctxt, &p) : run_on_line_cards(*row, ctxt, &p);
    }
    if (clearing(p) && !p.reached)
        vorel_xml_error(0, "vorel: no line card was reached; nothing was cleared\n");
    return rc;
}

} // namespace

int vorel_handle_si_ip_reass_command(int argc, char **argv, vorel_ctx *ctxt) {
    return run_reass_command(argc, argv, ctxt, kIpv4, si_ip_reass_cmd_handlers_table);
}

int vorel_handle_si_ipv6_reass_command(int argc, char **argv, vorel_ctx *ctxt) {
    return run_reass_command(argc, argv, ctxt, kIpv6, si_ipv6_reass_cmd_handlers_table);
}
