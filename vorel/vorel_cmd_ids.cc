// -C ids: the intrusion-detection tables that service PICs keep per
// service set (entries keyed by source, destination or address pair, with
// their counts, flags, application and anomalies), and their clearing.
// The subcommand chooses one of two walks, show or clear; there is no
// action table.
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// ids_flags: the key bits, the sort order and the clear-everything bit.
constexpr uint32_t kKeySource = 2;
constexpr uint32_t kKeyDestination = 4;
constexpr uint32_t kSortBytes = 16;
constexpr uint32_t kSortPackets = 32;
constexpr uint32_t kSortFlows = 64;
constexpr uint32_t kSortAnomalies = 128;
constexpr uint32_t kSortBits = kSortBytes | kSortPackets | kSortFlows | kSortAnomalies;
constexpr uint32_t kClearEverything = 512;

constexpr size_t kSummarySize = 32; // failed insertions at 28

struct ids_params {
    char view = 'b'; // 't' terse, 'b' brief, 'x' extensive
    uint32_t limit = 16;
    uint32_t t_number = 0;
    uint32_t ids_flags = kSortPackets;
    uint32_t dprefix = 0, dprefix_len = 0;
    uint32_t sprefix = 0, sprefix_len = 0;
    std::optional<std::string> svc_set_name;
    std::optional<std::string> if_name;
    std::optional<std::string> subcommand;

    // The walk's state: the summary a PIC sent after its last service set
    // (copied, since a reply lives only until the next receive), and
    // whether a missing reply ended the walk.
    std::optional<std::array<uint8_t, kSummarySize>> summary;
    bool silent_pic = false; // a PIC stopped answering: the walk ended there
};

// ---------------------------------------------------------------------------
// Command line

// A word beginning with "-F" that names no known term ends the run.
[[noreturn]] void refuse_filter_term() {
    vorel_user_message("Unknown filter term option\n");
    vorel_exit(1);
}

// -F: the term's name follows "-F" in the same word ("-Fsprefix"), its
// value is the next word.  "-F" on its own names no term.  False when the
// value is not a prefix.
bool parse_filter(int argc, char **argv, ids_params *p) {
    // The term is either the rest of the option's word or the word after it.
    bool attached = vorel_optarg != argv[vorel_optind - 1];
    const char *word = argv[vorel_optind - (attached ? 1 : 2)];
    const char *value = vorel_getopt_next_word(argc, argv);
    if (!vorel_starts_with(word, "-F"))
        return true; // clustered behind another letter: not a filter term
    const char *term = attached ? word + 2 : "";
    if (std::strncmp(term, "sprefix", 7) == 0)
        return vorel_option_prefix4(value, &p->sprefix, &p->sprefix_len);
    if (std::strncmp(term, "dprefix", 7) == 0)
        return vorel_option_prefix4(value, &p->dprefix, &p->dprefix_len);
    refuse_filter_term();
}

uint32_t sort_bit(const char *letter) {
    switch (letter[0]) {
    case 'a':
        return kSortAnomalies;
    case 'b':
        return kSortBytes;
    case 'f':
        return kSortFlows;
    default:
        return kSortPackets;
    }
}

bool parse_options(int argc, char **argv, const vorel_ctx *ctxt, ids_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'V':
            p->view = vorel_optarg[0];
            break;
        case 'L':
            p->limit = static_cast<uint32_t>(std::atoi(vorel_optarg));
            break;
        case 'T':
            p->t_number = static_cast<uint32_t>(std::atoi(vorel_optarg));
            break;
        case 'O':
            p->ids_flags = (p->ids_flags & ~kSortBits) | sort_bit(vorel_optarg);
            break;
        case 'S':
            p->subcommand = vorel_optarg;
            break;
        case 's':
            p->svc_set_name = vorel_optarg;
            break;
        case 'i':
            p->if_name = vorel_optarg;
            break;
        case 'F':
            if (!parse_filter(argc, argv, p))
                return false;
            break;
        case '?':
            // "-F" as the last word: a filter word without its term.
            if (vorel_optopt == 'F')
                refuse_filter_term();
            break;
        default:
            break;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Texts

const char *sort_order_word(uint32_t flags) {
    if (flags & kSortAnomalies)
        return "Anomalies";
    if (flags & kSortBytes)
        return "Bytes";
    if (flags & kSortPackets)
        return "Packets";
    if (flags & kSortFlows)
        return "Flows";
    return "";
}

const char *table_heading(const ids_params &p) {
    if (p.view != 't')
        return "Source address       Dest address      Time Flags             Application";
    if (p.ids_flags & kSortAnomalies)
        return "Source address       Dest address      Time Flags  Anomalies Application";
    if (p.ids_flags & kSortBytes)
        return "Source address       Dest address      Time Flags  Bytes     Application";
    if (p.ids_flags & kSortPackets)
        return "Source address       Dest address      Time Flags  Packets   Application";
    if (p.ids_flags & kSortFlows)
        return "Source address       Dest address      Time Flags  Flows     Application";
    return "";
}

// ---------------------------------------------------------------------------
// Entries

constexpr uint16_t kShowRequest = 11;
constexpr uint16_t kEntryReply = 12;
constexpr uint16_t kSummaryReply = 13;
constexpr size_t kShowRequestSize = 44;
constexpr size_t kEntrySize = 108; // the anomaly records follow
constexpr size_t kAnomalySize = 76;
constexpr size_t kMaxAnomalies = 4096;
constexpr size_t kAppNameWidth = 16;
constexpr size_t kDescriptionWidth = 64;

constexpr uint32_t kEntryForced = 1;
constexpr uint32_t kEntrySourceKeyed = 2;
constexpr uint32_t kEntryDestinationKeyed = 4;
constexpr uint32_t kEntrySynCookie = 8;

struct address_text {
    char text[INET6_ADDRSTRLEN + 8] = "?";
};

// Four words and a 32-bit family word; "?" when there is no family.
address_text read_address(const vorel::ByteBlock<kEntrySize> &b, size_t off, size_t family_off) {
    vorel::ByteReader r = b.reader();
    vorel_addr a;
    for (size_t i = 0; i < 4; i++)
        a.words[i] = r.be32(off + 4 * i);
    int family = vorel_wire_family(r.be32(family_off));
    a.is_v6 = family == VOREL_FAMILY_INET6;
    address_text t;
    if (prefix_value_to_string(family, &a, a.is_v6 ? 128 : 32, t.text, sizeof t.text) != 0 ||
        family == 0)
        std::snprintf(t.text, sizeof t.text, "?");
    return t;
}

const char *short_flags(uint32_t flags) {
    bool forced = flags & kEntryForced, syn = flags & kEntrySynCookie;
    return forced && syn ? "F S" : forced ? "F  " : syn ? "  S" : "   ";
}

const char *long_flags(uint32_t flags) {
    bool forced = flags & kEntryForced, syn = flags & kEntrySynCookie;
    return forced && syn ? "Forced+SYN cookie"
           : forced      ? "Forced           "
           : syn         ? "SYN cookie       "
                         : "                 ";
}

// The count the terse view shows: that of the sort order.
uint32_t sorted_count(const vorel::ByteBlock<kEntrySize> &b, uint32_t ids_flags) {
    if (ids_flags & kSortAnomalies)
        return b.be32<80>();
    if (ids_flags & kSortBytes)
        return b.be32<68>();
    if (ids_flags & kSortPackets)
        return b.be32<72>();
    return b.be32<76>();
}

void emit_anomalies(const vorel_ctx *ctxt, const vorel::ByteReader &reply, size_t n) {
    if (n == 0)
        return;
    if (!ctxt->xml)
        std::printf("    %-47s %7s   %7s   %8s", "Anomaly description", "Count", "Rate",
                    "Elapsed\n");
    for (size_t i = 0; i < n; i++) {
        vorel::ByteBlock<kAnomalySize> a;
        if (!reply.block(kEntrySize + i * kAnomalySize, a))
            return;
        std::string description(a.text<0, kDescriptionWidth>());
        const char *count = vorel_numbers_convert(a.be32<68>());
        const char *rate = vorel_treshold_convert(a.be32<64>());
        const char *elapsed = vorel_time_convert(a.be32<72>());
        if (ctxt->xml) {
            xml_send_open("ids-anomaly-entry");
            xml_send_all("ids-anomaly-description", "%s", description.c_str());
            xml_send_all("ids-anomaly-count", "%s", count);
            xml_send_all("ids-anomaly-rate", "%s", rate);
            xml_send_all("ids-anomaly-elapsed", "%s", elapsed);
            xml_send_close("ids-anomaly-entry");
        } else {
            std::printf("    %-47s %7s %5s eps %9s\n", description.c_str(), count, rate, elapsed);
        }
    }
}

void emit_entry(const vorel_ctx *ctxt, const ids_params &p, const vorel::ByteReader &reply,
                const vorel::ByteBlock<kEntrySize> &b) {
    uint32_t flags = b.be32<60>();
    bool by_source = flags & kEntrySourceKeyed, by_destination = flags & kEntryDestinationKeyed;
    address_text src = by_source ? read_address(b, 16, 32) : address_text{"any"};
    address_text dst = by_destination ? read_address(b, 36, 52) : address_text{"any"};
    const char *time = vorel_time_convert(b.be32<84>());
    std::string application(b.text<92, kAppNameWidth>());
    bool terse = p.view == 't';
    bool xml = ctxt->xml;

    if (xml) {
        xml_send_open("ids-flow-entry", {xml_attr_style(terse ? "brief" : "verbose")});
        if (by_source || by_destination) {
            xml_send_all("ids-flow-source-ip", "%s", src.text);
            xml_send_all("ids-flow-destination-ip", "%s", dst.text);
        }
        xml_send_all("ids-flow-time", "%s", time);
    } else {
        if (by_source || by_destination)
            std::printf("%-15s -> %15s", src.text, dst.text);
        std::printf(" %8s", time);
    }

    if (terse) {
        const char *count = vorel_numbers_convert(sorted_count(b, p.ids_flags));
        if (xml) {
            xml_send_all("ids-flow-flags", "%s", short_flags(flags));
            xml_send_all("ids-flow-count", "%s", count);
        } else {
            std::printf(" %s", short_flags(flags));
            std::printf("      %7s", count);
        }
    } else if (xml) {
        xml_send_all("ids-flow-long-flags", "%s", long_flags(flags));
    } else {
        std::printf(" %17s", long_flags(flags));
    }
    if (xml)
        xml_send_all("ids-flow-application", "%s", application.c_str());
    else
        std::printf(" %-18s\n", application.c_str());

    if (p.view == 'x' || p.view == 'b') {
        const char *bytes = vorel_numbers_convert(b.be32<68>());
        const char *packets = vorel_numbers_convert(b.be32<72>());
        const char *flows = vorel_numbers_convert(b.be32<76>());
        const char *anomalies = vorel_numbers_convert(b.be32<80>());
        if (xml) {
            xml_send_all("ids-bytes-count", "%s", bytes);
            xml_send_all("ids-packets-count", "%s", packets);
            xml_send_all("ids-flows-count", "%s", flows);
            xml_send_all("ids-anomalies-count", "%s", anomalies);
        } else {
            std::printf("  Bytes: %8s, Packets: %8s, Flows: %8s, Anomalies: %8s\n", bytes, packets,
                        flows, anomalies);
        }
    }
    if (p.view == 'x')
        emit_anomalies(ctxt, reply,
                       reply.clamp_count(b.be32<88>(), kEntrySize, kAnomalySize, kMaxAnomalies));

    if (xml)
        xml_send_close("ids-flow-entry");
    else if (!terse)
        std::printf("\n");
}

void emit_title(const vorel_ctx *ctxt, const ids_params &p, const asp_info &asp,
                const svc_set_info &ss) {
    const char *order = sort_order_word(p.ids_flags);
    if (ctxt->xml) {
        xml_send_all("interface-name", "%s", asp.name);
        xml_send_all("service-set-name", "%.*s", static_cast<int>(SVC_SET_NAME_LEN), ss.name);
        xml_send_all("ids-sort-order", "%s", order);
        xml_send_open("ids-flow-table", {xml_attribute("heading", table_heading(p))});
    } else {
        std::printf("Interface: %s, Service set: %.*s\n", asp.name,
                    static_cast<int>(SVC_SET_NAME_LEN), ss.name);
        std::printf("Sorting order: %s\n", order);
        std::printf("\n%s\n\n", table_heading(p));
    }
}

void emit_summary(const vorel_ctx *ctxt, const asp_info &asp,
                  const std::array<uint8_t, kSummarySize> &copy) {
    vorel::ByteReader r(copy.data(), copy.size());
    uint32_t events = r.be32(16), entries = r.be32(20), failed = r.be32(28);
    if (ctxt->xml) {
        xml_send_open("ids-show-summary");
        xml_send_all("interface-name", "%s", asp.name);
        xml_send_all("ids-total-entries", "%u", entries);
        xml_send_all("ids-total-failed-insertions", "%u", failed);
        xml_send_all("ids-total-events", "%u", events);
        xml_send_close("ids-show-summary");
    } else {
        std::printf("%-58s%20s\n", "Interface Name:", asp.name);
        std::printf("Total IDS table entries:                                    %20u\n", entries);
        std::printf("Total failed IDS table entry insertions                     %20u\n", failed);
        std::printf("Total number of events ( closed flows and anomalies ):      %20u\n", events);
    }
}

// The show request of one service set: its table until an entry without
// flags, then the summary.  -1 when the PIC stopped answering (the walk
// ends, and standard error has said why) or sent a second summary.
int ids_show_query(vorel_ctx *ctxt, services_ui_conn *conn, const asp_info &asp,
                   const svc_set_info &ss, ids_params *p) {
    vorel::ByteWriter req = vorel_request(kShowRequest, 2, kShowRequestSize, ss.id);
    req.u8(8, ss.style);
    req.be32(16, p->limit);
    req.be32(20, p->t_number);
    req.be32(24, p->ids_flags);
    req.be32(28, p->dprefix_len);
    req.be32(32, p->sprefix_len);
    req.be32(36, p->dprefix);
    req.be32(40, p->sprefix);
    if (vorel_send(conn, req) < 0)
        return -1;

    {
        vorel_section table(ctxt, "ids-per-service-set-flow-table");
        for (;;) {
            vorel::ByteReader reply = vorel_receive_at_least(conn, kEntryReply, 2, kEntrySize,
                                                             asp.name, short_reply::skip);
            vorel::ByteBlock<kEntrySize> b;
            if (reply.empty() || !reply.block(0, b)) {
                // The table ends here; an answer without its last entry is a
                // failure too.
                vorel_note_unanswered(conn, asp.name, true);
                p->silent_pic = true;
                return -1;
            }
            if (b.be32<60>() == 0)
                break;
            if (table.open())
                emit_title(ctxt, *p, asp, ss);
            emit_entry(ctxt, *p, reply, b);
        }
        if (!ctxt->xml)
            std::printf("\n");
    }

    vorel::ByteBlock<kSummarySize> summary;
    if (vorel_receive_block(conn, kSummaryReply, 1, asp.name, short_reply::end_answer, &summary)) {
        std::array<uint8_t, kSummarySize> copy;
        summary.copy<0, kSummarySize>(copy.data());
        p->summary = copy;
        if (!vorel_receive(conn, kSummaryReply, 1).empty()) {
            vorel_note_failure("ids: %s sent a second summary; the walk stops", asp.name);
            return -1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Clearing

constexpr uint16_t kClearRequest = 9;
constexpr uint16_t kClearReply = 10;
constexpr size_t kClearRequestSize = 36;

int ids_clear_query(services_ui_conn *conn, const asp_info &asp, const svc_set_info &ss,
                    const ids_params &p) {
    vorel::ByteWriter req = vorel_request(kClearRequest, 2, kClearRequestSize, ss.id);
    req.u8(8, ss.style);
    req.be32(16, p.ids_flags);
    req.be32(20, p.dprefix_len);
    req.be32(24, p.sprefix_len);
    req.be32(28, p.dprefix);
    req.be32(32, p.sprefix);
    if (vorel_send(conn, req) < 0)
        return -1;
    if (vorel_receive(conn, kClearReply, 1).empty()) {
        vorel_user_message("-------reply == NULL-------\n");
        return -1;
    }
    if (!vorel_receive(conn, kClearReply, 1).empty()) {
        vorel_note_failure("ids: %s acknowledged a clear twice; the walk stops", asp.name);
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// The walks

// Every PIC that is not a multiservices PIC (only the one named with -i,
// chosen before any channel is opened); a PIC that cannot be reached ends
// the run.  Each gets one call per service set of style 'B' (only the one
// named with -s); after_pic follows the PIC's last service set.
pic_walk ids_walk(const ids_params &p, std::function<void(const asp_info &)> after_pic) {
    pic_walk walk;
    if (p.if_name)
        walk.pic_name = p.if_name->c_str();
    walk.admit = [](const asp_info &asp) { return !(asp.flags & ASP_F_MSP); };
    walk.open_channel = vorel_open_pic_fatal;
    walk.on_open_failure = open_failure::stop_walk;
    const char *name = p.svc_set_name ? p.svc_set_name->c_str() : nullptr;
    walk.loop = [name, after_pic](services_ui_conn *c, asp_info *asp, const pic_query_fn &query) {
        for (svc_set_info *ss = nullptr; (ss = vorel_db_svc_set_find_next(asp, ss));) {
            if (ss->style != 'B' || (name && std::strncmp(ss->name, name, SVC_SET_NAME_LEN) != 0))
                continue;
            if (query(c, asp, ss) < 0)
                return -1;
        }
        if (after_pic)
            after_pic(*asp);
        return 0;
    };
    return walk;
}

int ids_show_walk(vorel_ctx *ctxt, ids_params *p) {
    if (ctxt->xml)
        xml_subtree_open("service-ids-flow-table-information");
    pic_walk walk = ids_walk(*p, [&](const asp_info &asp) {
        if (p->summary)
            emit_summary(ctxt, asp, *p->summary);
        p->summary.reset();
    });
    int rc = vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        return ids_show_query(ctxt, c, *asp, *ss, p);
    });
    if (ctxt->xml) {
        xml_subtree_close();
        xml_subtree_once();
    }
    if (p->silent_pic) // said where it stopped; later PICs are not asked
        return 0;
    return rc;
}

int ids_clear_walk(ids_params *p) {
    if (!p->svc_set_name && p->ids_flags == 0)
        p->ids_flags = kClearEverything;
    pic_walk walk = ids_walk(*p, nullptr);
    return vorel_walk_pics(walk, [&](services_ui_conn *c, asp_info *asp, svc_set_info *ss) {
        return ids_clear_query(c, *asp, *ss, *p);
    });
}

// The sub-commands: the walk each runs and the keys it adds.
constexpr vorel_subcommand<uint32_t> kSubcommands[] = {
    {"src", "show", kKeySource},
    {"dst", "show", kKeyDestination},
    {"pair", "show", kKeySource | kKeyDestination},
    {"clear_src", "clear", kKeySource},
    {"clear_dst", "clear", kKeyDestination},
    {"clear_pair", "clear", kKeySource | kKeyDestination},
};

} // namespace

int vorel_handle_ids_command(int argc, char **argv, vorel_ctx *ctxt) {
    ids_params p;
    if (!parse_options(argc, argv, ctxt, &p))
        return -1;
    if (!p.subcommand) {
        vorel_note_failure("ids: no subcommand");
        return -1;
    }
    if (*p.subcommand == "clear") {
        p.ids_flags = 0;
        return ids_clear_walk(&p);
    }
    if (const auto *row = vorel_subcommand_find(kSubcommands, p.subcommand)) {
        p.ids_flags |= row->settings;
        return std::strcmp(row->action, "clear") == 0 ? ids_clear_walk(&p)
                                                      : ids_show_walk(ctxt, &p);
    }
    vorel_note_failure("ids: unknown subcommand %s", p.subcommand->c_str());
    return -1;
}
