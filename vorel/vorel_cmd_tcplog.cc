// -C tcplog -S connection: the TCP connections that each service PIC's
// logging facility keeps to its log collectors.
#include "platform/format.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_driver.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_string.h"
#include "vorel/vorel_util.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

// ---- Constants: the messages and their layouts ----

constexpr size_t kCompareLen = 128;

constexpr uint16_t kConnInfoRequest = 317;
constexpr uint16_t kConnInfoReply = 318;
constexpr size_t kRequestSize = 16;
constexpr size_t kReplySize = 14360; // the head and a full table
constexpr size_t kCountOffset = 16;
constexpr size_t kEntriesOffset = 24;
constexpr size_t kEntrySize = 56;
constexpr size_t kMaxEntries = 256;

struct tcplog_params {
    std::optional<std::string> action;
    std::optional<std::string> pic_name;
    std::optional<std::string> command;
    std::optional<std::string> subcommand;
};

// ---- Record and decode ----

// One connection to a log collector.
struct conn_entry {
    uint8_t state;
    vorel_addr local, remote;
    uint16_t remote_port;
    uint64_t session_id;
};

conn_entry decode_entry(const vorel::ByteBlock<kEntrySize> &b) {
    conn_entry e;
    e.state = b.u8<0>();
    e.local = vorel_addr_decode<4>(b);
    e.remote = vorel_addr_decode<24>(b);
    e.remote_port = b.be16<44>();
    e.session_id = b.be64<48>();
    return e;
}

// Entry i of the table (i below the clamped count).
conn_entry read_entry(const vorel::ByteReader &r, size_t i) {
    conn_entry e{};
    vorel_record_read(r, kEntriesOffset + i * kEntrySize, &e, decode_entry);
    return e;
}

const char *state_name(uint8_t state) {
    static const char *const names[] = {"Init", "Connection-In-Progress", "Reconnect-In-Progress",
                                        "Established"};
    return state < 4 ? names[state] : "Invalid";
}

// ---- Renderers: XML and text ----

// An entry's leaves: a full table is 64 PICs of 256.
const xml_tag kEntryTag("tcp-log-connection-status-entry");
const xml_tag kSessionIdTag("tcp-log-session-id");
const xml_tag kStateTag("tcp-log-connection-state");
const xml_tag kSourceIpTag("tcp-log-source-ip");
const xml_tag kRemoteIpTag("tcp-log-remote-ip");
const xml_tag kRemotePortTag("tcp-log-remote-port");

// The entry in one row of leaves, stored straight into standard output's
// buffer (or going out in one write).
void xml_entry(const conn_entry &e) {
    // An id has at most 20 digits; the room is for the compiler, which
    // sees the leaf's copy of up to 32 bytes run past a smaller array.
    char id[48], local[VOREL_ADDR_TEXT], remote[VOREL_ADDR_TEXT];
    char *id_end = std::to_chars(id, id + 20, e.session_id).ptr;
    xml_leaves out;
    out.open(kEntryTag);
    out.leaf(kSessionIdTag, std::string_view(id, static_cast<size_t>(id_end - id)));
    out.leaf(kStateTag, state_name(e.state));
    out.leaf(kSourceIpTag, vorel_addr_text(e.local, e.local.is_v6, local));
    out.leaf(kRemoteIpTag, vorel_addr_text(e.remote, e.remote.is_v6, remote));
    out.leaf(kRemotePortTag, unsigned{e.remote_port});
    out.close(kEntryTag);
}

void render_xml(const asp_info &asp, const vorel::ByteReader &r, size_t n) {
    xml_subtree_open("tcp-log-connection-status-summary");
    xml_send_all("tcp-log-interface-name", "%s", asp.name);
    for (size_t i = 0; i < n; i++)
        xml_entry(read_entry(r, i));
    xml_subtree_close();
    xml_subtree_once();
}

// Each entry's lines as "Entry num : %d\nId %d Status : %d sn_id %llu\n
// remote-port %u local IP %s peer IP %s\n" prints them, stored into
// standard output's buffer in one piece: printf was most of a full table's
// time (64 PICs of 256 entries).
void render_text(const vorel::ByteReader &r, size_t n) {
    using namespace vorel;
    StreamText out(stdout);
    for (size_t i = 0; i < n; i++) {
        conn_entry e = read_entry(r, i);
        char local_buf[VOREL_ADDR_TEXT], remote_buf[VOREL_ADDR_TEXT];
        std::string_view local = vorel_addr_text(e.local, e.local.is_v6, local_buf);
        std::string_view remote = vorel_addr_text(e.remote, e.remote.is_v6, remote_buf);
        constexpr size_t kDigits = 3 + 3 + 3 + 20 + 5; // the index twice, state, id, port
        constexpr size_t kFixed = sizeof("Entry num : \nId  Status :  sn_id \n remote-port "
                                         " local IP  peer IP \n") -
                                  1;
        out.append_by(kFixed + kDigits + local.size() + remote.size(), [&](char *d) noexcept {
            d = put_text(d, "Entry num : ");
            d = put_unsigned(d, i);
            d = put_text(d, "\nId ");
            d = put_unsigned(d, i);
            d = put_text(d, " Status : ");
            d = put_unsigned(d, e.state);
            d = put_text(d, " sn_id ");
            d = put_unsigned(d, e.session_id);
            d = put_text(d, "\n remote-port ");
            d = put_unsigned(d, e.remote_port);
            d = put_text(d, " local IP ");
            d = put_text(d, local);
            d = put_text(d, " peer IP ");
            d = put_text(d, remote);
            *d++ = '\n';
            return d;
        });
    }
}

// ---- Query ----

int tcplog_conn_info_query(vorel_ctx *ctxt, services_ui_conn *asp_conn, asp_info *asp,
                           svc_set_info *, tcplog_params *) {
    if (!asp_conn) {
        vorel_trace("asp_conn is null\n");
        return -1;
    }
    vorel::ByteWriter req = vorel_request(kConnInfoRequest, 1, kRequestSize);
    if (vorel_send(asp_conn, req) < 0)
        return -1;
    bool came_short = false;
    vorel::ByteBlock<kEntriesOffset> head;
    vorel::ByteReader reply = vorel_receive_at_least(
        asp_conn, kConnInfoReply, 1, kReplySize, asp->name, short_reply::end_answer, &came_short);
    if (!reply.block(0, head)) {
        if (!came_short)
            vorel_trace("%s:%d No replies from SPIC \n", "tcplog_conn_info_query", 208);
        return 0;
    }
    size_t n =
        reply.clamp_count(head.be16<kCountOffset>(), kEntriesOffset, kEntrySize, kMaxEntries);
    if (n == 0)
        return 0;
    if (ctxt->xml)
        render_xml(*asp, reply, n);
    else
        render_text(reply, n);
    return 0;
}

// ---- Open and close ----

int tcplog_open(vorel_ctx *, tcplog_params *) {
    vorel_trace("vorel: TCPLOG info dump start.\n");
    return 0;
}

int tcplog_close(vorel_ctx *, tcplog_params *) {
    vorel_trace("vorel: TCPLOG info completed \n");
    return 0;
}

// ---- Table row ----

const vorel_action<tcplog_params> tcplog_cmd_handlers_table[] = {
    {"tcplog_conn_info", tcplog_open, tcplog_close, tcplog_conn_info_query},
    {nullptr, nullptr, nullptr, nullptr},
};

// ---- The command line ----

void parse_options(int argc, char **argv, const vorel_ctx *ctxt, tcplog_params &p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'S':
            p.subcommand = vorel_optarg;
            break;
        case 'i':
            p.pic_name = vorel_optarg;
            break;
        case 'C':
            p.command = vorel_optarg;
            break;
        default:
            break;
        }
    }
}

// The words compare on their first 128 characters.
bool word_is(const std::optional<std::string> &word, const char *expected) {
    return word && std::strncmp(word->c_str(), expected, kCompareLen) == 0;
}

} // namespace

int vorel_handle_tcplog_command(int argc, char **argv, vorel_ctx *ctxt) {
    tcplog_params p;
    parse_options(argc, argv, ctxt, p);
    if (!p.action && word_is(p.command, "tcplog") && word_is(p.subcommand, "connection"))
        p.action = "tcplog_conn_info";
    if (debug) {
        vorel_trace_arguments(argc, argv);
        std::printf("vorel: command: %s, subcommand: %s \n",
                    vorel_str_or_null(vorel_text(p.command)),
                    vorel_str_or_null(vorel_text(p.subcommand)));
    }
    if (!p.action) {
        vorel_user_message("vorel: tcplog handler doesn't know what to do\n%s",
                           vorel_argument_echo(argc, argv).c_str());
        return -1;
    }

    pic_walk walk;
    walk.records = walk_records::asp;
    if (p.pic_name) {
        walk.pic_name = p.pic_name->c_str();
        walk.pic_name_len = kCompareLen;
    } else {
        walk.admit = [](const asp_info &asp) { return std::strstr(asp.name, "mams") == nullptr; };
    }
    walk.open_channel = vorel_open_pic_xml_error;
    walk.on_open_failure = open_failure::skip_pic;

    bool ran = false;
    int rc = vorel_run_action(tcplog_cmd_handlers_table, p.action->c_str(), walk, ctxt, &p,
                              "vorel: TCPLOG action %s is not supported yet\n", &ran);
    if (!ran)
        vorel_user_message("vorel: tcplog handler unknown action: %s \n", p.action->c_str());
    return rc;
}
