// -C redundancy / -C ha: the redundancy of the service PICs.  "redundancy
// -S mode" makes a PIC active or backup; "ha -S level" shows each PIC's
// high-availability state (type, role, connection, synchronisation and
// peers), with the synchronisation counters of multiservices PICs in XML;
// "ha -S clear_ha_stats" clears those counters.
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_subcommand.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The line numbers the debug traces of a missing reply name; fixed, so
// that the traces stay as they are when this file changes.
constexpr int kInfoTraceLine = 253;
constexpr int kClearTraceLine = 274;

constexpr uint32_t kModeActive = 0;
constexpr uint32_t kModeBackup = 1;
constexpr uint32_t kLevelBrief = 0;
constexpr uint32_t kLevelStatistics = 2;

struct ha_params {
    std::optional<std::string> action;
    std::optional<std::string> if_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
    uint32_t mode = kModeActive;
    uint32_t level = kLevelBrief;
    // Mode-change messages already printed: the next one goes on a line of
    // its own (each message has no newline of its own).
    unsigned messages_shown = 0;
};

// Multiservices PICs and bundles keep synchronisation counters.
bool keeps_ha_counters(const asp_info &asp) {
    return vorel_strnstr(asp.name, "ms", 3) || vorel_strnstr(asp.name, "mams", 4);
}

// ---------------------------------------------------------------------------
// Mode change

constexpr uint16_t kModeRequest = 236;
constexpr uint16_t kModeReply = 238;
constexpr size_t kModeRequestSize = 20;
constexpr size_t kModeReplySize = 21; // the verdict byte at 20

// The mode sent is the one the action names, so -A ha_mode_backup asks for
// backup whatever -V said (the sub-command rows agree with it by design).
template <uint32_t Mode>
int ha_mode_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                  ha_params *p) {
    vorel::ByteWriter req = vorel_request(kModeRequest, 2, kModeRequestSize);
    req.be32(16, Mode);
    if (vorel_send(conn, req) < 0)
        return -1;
    vorel::ByteBlock<kModeReplySize> reply;
    if (!vorel_receive_block(conn, kModeReply, 2, asp->name, short_reply::end_answer, &reply)) {
        vorel_trace("No more replies from SPIC \n");
        return 0;
    }
    const char *message = reply.u8<20>()
                              ? "Redundancy type has already been changed"
                              : "Operation was successful, use 'show services ha' to verify";
    if (ctxt->xml) {
        xml_subtree_open("services-redundancy-status");
        xml_send_all("services-redundancy-status-display", "%s", message);
        xml_subtree_close();
        xml_subtree_once();
    } else {
        std::printf("%s%s", p->messages_shown ? "\n" : "", message);
    }
    p->messages_shown++;
    return 0;
}

int ha_mode_open(vorel_ctx *, ha_params *) {
    vorel_trace("vorel: starting HA mode change\n");
    return 0;
}

int ha_mode_close(vorel_ctx *, ha_params *) {
    vorel_trace("vorel: HA mode change done \n");
    return 0;
}

// ---------------------------------------------------------------------------
// State and statistics

constexpr uint16_t kInfoRequest = 239;
constexpr uint16_t kInfoReply = 240;
constexpr size_t kInfoRequestSize = 16;
constexpr size_t kInfoReplySize = 368; // 75 counters end at 367

constexpr vorel_counter kConnCounters[] = {
    {"ha-tcp-establish", 352},       {"ha-tcp-teardown", 348}, {"ha-udp-addr-exch-sent", 308},
    {"ha-udp-addr-exch-recvd", 312}, {"ha-start-sent", 300},   {"ha-start-recvd", 304},
    {"ha-cold-sync-completed", 196},
};
constexpr vorel_counter kSessionAddCounters[] = {
    {"ha-sess-add-sent", 100},         {"ha-session-add-recvd", 136},
    {"ha-session-add-completed", 156}, {"ha-session-add-rate", 108},
    {"ha-session-add-nack-sent", 124}, {"ha-session-add-nack-recvd", 144},
    {"ha-session-add-pending", 360},
};
constexpr vorel_counter kSessionDelCounters[] = {
    {"ha-sess-del-sent", 112},
    {"ha-session-del-recvd", 140},
    {"ha-session-del-completed", 168},
    {"ha-session-del-rate", 120},
    {"ha-session-del-nack-sent", 128},
    {"ha-session-del-nack-recvd", 148},
    {"ha-session-del-not-found-err", 192},
};
constexpr vorel_counter kSessionErrorCounters[] = {
    {"ha-sess-attach-fail", 208},
    {"ha-sess-deattach-fail", 212},
    {"ha-sess-get-fail", 216},
    {"ha-session-nullify", 344},
    {"ha-session-lookup-fail", 220},
    {"ha-session-initiate-fail", 244},
    {"ha-session-activate-fail", 248},
    {"ha-session-close-fail", 364},
    {"ha-session-illegal-flow-type", 264},
    {"ha-session-illegal-service-set", 268},
    {"ha-session-unsup-protocol", 272},
    {"ha-session-send-overflow", 284},
    {"ha-session-send-discard", 288},
    {"ha-session-spurious", 292},
    {"ha-process-session-ignored", 356},
    {"ha-process-incoming-failed", 296},
};
constexpr vorel_counter kJmuxErrorCounters[] = {
    {"ha-session-jmux-begin-fail", 232},      {"ha-session-jmux-commit-fail", 236},
    {"ha-session-jmux-flush-fail", 240},      {"ha-session-invalid-plugin-header", 252},
    {"ha-session-invalid-plugin-name", 256},  {"ha-session-invalid-plugin-length", 260},
    {"ha-session-plugin-receive-error", 276}, {"ha-session-plugin-send-error", 280},
};
constexpr vorel_counter kIdlErrorCounters[] = {
    {"ha-session-idl-encode-fail", 224},
    {"ha-session-idl-decode-fail", 228},
};

const vorel_counter_group kCounterPages[] = {
    {"service-ha-conn-info", kConnCounters, "brief"},
    {"service-ha-session-add-info", kSessionAddCounters, "brief"},
    {"service-ha-session-del-info", kSessionDelCounters, "brief"},
    {"service-ha-sess-error-stats-info", kSessionErrorCounters, "brief"},
    {"service-ha-jmux-error-stats-info", kJmuxErrorCounters, "brief"},
    {"service-ha-idl-error-stats-info", kIdlErrorCounters, "brief"},
};

// A peer address: four words and a 32-bit family word (2 IPv4, any other
// nonzero value IPv6); no family shows no address.
struct ha_peer {
    char address[INET6_ADDRSTRLEN + 8] = "";
    uint16_t port = 0;
};

template <size_t Off, size_t FamilyOff, size_t PortOff>
ha_peer read_peer(const vorel::ByteBlock<kInfoReplySize> &b) {
    ha_peer peer;
    vorel_addr a;
    a.words[0] = b.be32<Off>();
    a.words[1] = b.be32<Off + 4>();
    a.words[2] = b.be32<Off + 8>();
    a.words[3] = b.be32<Off + 12>();
    int family = vorel_wire_family(b.be32<FamilyOff>());
    a.is_v6 = family == VOREL_FAMILY_INET6;
    prefix_value_to_string(family, &a, a.is_v6 ? 128 : 32, peer.address, sizeof peer.address);
    peer.port = b.be16<PortOff>();
    return peer;
}

struct ha_state {
    const char *type, *role, *connection, *sync;
    ha_peer local, remote;
};

ha_state read_state(const vorel::ByteBlock<kInfoReplySize> &b) {
    ha_state s;
    s.type = b.u8<16>() == 1 ? "Intra-chassis" : "Inter-chassis";
    s.role = b.u8<17>() ? "backup" : "active";
    bool up = b.u8<18>() == 1;
    s.connection = up ? "Up" : "Down";
    s.sync = !up ? "Off" : b.u8<19>() == 1 ? "Hot" : "Cold";
    s.local = read_peer<20, 36, 40>(b);
    s.remote = read_peer<44, 60, 64>(b);
    return s;
}

void render_state_text(const asp_info &asp, const ha_state &s) {
    std::printf("\nInterface:\t\t%s\n", asp.name);
    std::printf("\n%s:\t\t", s.type);
    std::printf("Role: %s,", s.role);
    std::printf("  Connection: %s,", s.connection);
    std::printf("  Synchronization: %s", s.sync);
    std::printf("\nPeers:\t\tLocal: %s", s.local.address);
    std::printf(" Port: %d,", s.local.port);
    std::printf(" Remote: %s,", s.remote.address);
    std::printf(" Port: %d", s.remote.port);
}

void render_state_xml(vorel_ctx *ctxt, const asp_info &asp, const ha_state &s,
                      const vorel::ByteReader &r, bool with_counters) {
    xml_subtree_open("service-ha-info", {xml_attr_style("brief")});
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("ha-type", "%s", s.type);
    xml_send_all("ha-role", "%s", s.role);
    xml_send_all("ha-conn-status", "%s", s.connection);
    xml_send_all("ha-sync-type", "%s", s.sync);
    xml_send_all("ha-local-ip", "%s", s.local.address);
    xml_send_all("ha-local-port", "%d", s.local.port);
    xml_send_all("ha-remote-ip", "%s", s.remote.address);
    xml_send_all("ha-remote-port", "%d", s.remote.port);
    if (with_counters) {
        for (const vorel_counter_group &page : kCounterPages)
            vorel_counters_emit(ctxt, page, r, nullptr);
    }
    xml_subtree_close();
    xml_subtree_once();
}

// The level is the one the action names, as for the mode change.
template <uint32_t Level>
int ha_info_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                  ha_params *) {
    bool counters = keeps_ha_counters(*asp);
    if (Level == kLevelStatistics && !counters)
        return 0;
    vorel::ByteWriter req = vorel_request(kInfoRequest, 2, kInfoRequestSize);
    req.u8(8, static_cast<uint8_t>(Level));
    if (vorel_send(conn, req) < 0)
        return -1;
    vorel::ByteBlock<kInfoReplySize> reply;
    if (!vorel_receive_block(conn, kInfoReply, 2, asp->name, short_reply::end_answer, &reply)) {
        vorel_trace("%s:%d No replies from SPIC \n", "ha_info_query", kInfoTraceLine);
        return 0;
    }
    ha_state s = read_state(reply);
    if (ctxt->xml)
        render_state_xml(ctxt, *asp, s, reply.reader(), counters && Level == kLevelStatistics);
    else
        render_state_text(*asp, s);
    return 0;
}

constexpr uint16_t kClearRequest = 241;
constexpr size_t kClearRequestSize = 16;

int clear_ha_stats_query(vorel_ctx *, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                         ha_params *) {
    if (!keeps_ha_counters(*asp))
        return 0;
    if (vorel_send(conn, vorel_request(kClearRequest, 1, kClearRequestSize)) < 0)
        return -1;
    if (vorel_receive(conn, kClearRequest + 1, 1).empty())
        vorel_trace("%s:%d No more replies from SPIC \n", "clear_ha_stats_query", kClearTraceLine);
    return 0;
}

int ha_info_open(vorel_ctx *, ha_params *) {
    vorel_trace("vorel: HA info dump start.\n");
    return 0;
}

const vorel_action<ha_params> ha_cmd_handlers_table[] = {
    {"ha_mode_active", ha_mode_open, ha_mode_close, ha_mode_query<kModeActive>},
    {"ha_mode_backup", ha_mode_open, ha_mode_close, ha_mode_query<kModeBackup>},
    {"ha_info_brief", ha_info_open, ha_mode_close, ha_info_query<kLevelBrief>},
    {"ha_info_statistics", ha_info_open, ha_mode_close, ha_info_query<kLevelStatistics>},
    {"clear_ha_stats", ha_info_open, ha_mode_close, clear_ha_stats_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---------------------------------------------------------------------------
// Command line and the walk

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, ha_params *p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        if (vorel_command_word_option(c, p))
            continue;
        switch (c) {
        case 'i':
            p->if_name = vorel_optarg;
            break;
        case 'V':
            // One letter: n active, s backup, b brief, c statistics.
            switch (vorel_optarg[0]) {
            case 'n':
                p->mode = kModeActive;
                break;
            case 's':
                p->mode = kModeBackup;
                break;
            case 'b':
                p->level = kLevelBrief;
                break;
            case 'c':
                p->level = kLevelStatistics;
                break;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }
}

// The sub-command rows apply under their command word, and only when the
// field the row governs (mode for "mode", level for "level") holds the
// row's value.
struct ha_when {
    const char *command;
    enum { mode, level, any } field;
    uint32_t value;
};
constexpr vorel_subcommand<vorel_no_settings, ha_when> kSubcommands[] = {
    {"mode", "ha_mode_active", {}, {"redundancy", ha_when::mode, kModeActive}},
    {"mode", "ha_mode_backup", {}, {"redundancy", ha_when::mode, kModeBackup}},
    {"level", "ha_info_brief", {}, {"ha", ha_when::level, kLevelBrief}},
    {"level", "ha_info_statistics", {}, {"ha", ha_when::level, kLevelStatistics}},
    {"clear_ha_stats", "clear_ha_stats", {}, {"ha", ha_when::any, 0}},
};

void derive_action(ha_params *p) {
    if (p->action || !p->command)
        return;
    const auto *row = vorel_subcommand_find(kSubcommands, p->subcommand, [p](const ha_when &w) {
        uint32_t value = w.field == ha_when::mode    ? p->mode
                         : w.field == ha_when::level ? p->level
                                                     : w.value;
        return *p->command == w.command && value == w.value;
    });
    if (row)
        p->action = row->action;
}

// Redundant pairs, PICs in the redundancy mode (2), and every other PIC
// except bundle records that are not in the mode of a bundle member (1).
bool admit(const asp_info &asp) {
    if (vorel_starts_with(asp.name, "rsp") || vorel_starts_with(asp.name, "rms"))
        return true;
    if (asp.pic_mode == 2)
        return true;
    return !vorel_starts_with(asp.name, "mams") || asp.pic_mode == 1;
}

} // namespace

int vorel_handle_redundancy_command(int argc, char **argv, vorel_ctx *ctxt) {
    ha_params p;
    parse_options(argc, argv, ctxt, &p);
    if (debug) {
        vorel_trace_arguments(argc, argv);
        std::printf("vorel: command: %s, subcommand: %s \n",
                    vorel_str_or_null(vorel_text(p.command)),
                    vorel_str_or_null(vorel_text(p.subcommand)));
    }
    derive_action(&p);
    if (!p.action) {
        vorel_user_message("vorel: ha handler doesn't know what to do\n%s",
                           vorel_argument_echo(argc, argv).c_str());
        return -1;
    }

    pic_walk walk;
    if (p.if_name)
        walk.pic_name = p.if_name->c_str();
    walk.admit = admit;
    walk.open_channel = vorel_open_pic_xml_error;
    walk.on_open_failure = open_failure::skip_pic;

    bool ran = false;
    int rc = vorel_run_action(ha_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p,
                              "vorel: ha action %s is not supported yet\n", &ran);
    if (!ran)
        vorel_user_message("vorel: ha handler unknown action: %s \n", p.action->c_str());
    return rc;
}
