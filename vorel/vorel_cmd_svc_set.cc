// -C svc_set: the command line, the operation table and what the
// operations share (the walk's PIC choice, table lookups, requests).
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/addr.h"
#include "platform/xml.h"
#include "vorel/vorel_cmds.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_getopt.h"
#include "vorel/vorel_section.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

namespace {

const svc_set_op *const svc_set_ops[] = {
    &svc_set_mem_op,
    &svc_set_mem_zone_op,
    &svc_set_cpu_op,
    &svc_set_summary_op,
    &svc_set_packet_drops_op,
    &svc_set_drop_flow_op,
    &svc_set_clear_packet_drops_op,
    &svc_set_clear_drop_flow_op,
    &svc_set_tcp_mss_op,
    &svc_set_syslog_op,
    &svc_set_clear_syslog_op,
    &svc_set_qflow_log_op,
    &svc_set_clear_qflow_log_op,
    &svc_set_plugin_op,
    &svc_set_policy_op,
};

const svc_set_op *find_op(const std::optional<std::string> &subcommand) {
    if (!subcommand)
        return nullptr;
    for (const svc_set_op *op : svc_set_ops)
        if (*subcommand == op->name)
            return op;
    return nullptr;
}

// -x syslog_host ADDRESS.  False after the refusal was reported.
bool parse_syslog_host(const char *text, vorel_addr &host) {
    ipaddr_t a;
    if (!parse_ipaddr(text, &a) || a.prefix_len != -1) {
        vorel_user_message("Invalid syslog host address\n");
        return false;
    }
    if (a.family != AF_INET) {
        vorel_user_message("Invalid syslog host address. Only v4 addresses are supported\n");
        return false;
    }
    uint32_t word;
    std::memcpy(&word, a.addr, 4);
    host = vorel_addr{};
    host.words[0] = ntohl(word);
    return true;
}

// Fills p from the options.  False when an option was refused.
bool parse_options(int argc, char **argv, const vorel_ctx *ctxt, svc_set_params &p) {
    int c;
    while ((c = vorel_getopt(argc, argv, ctxt->optstring)) != -1) {
        switch (c) {
        case 'S':
            p.subcommand = vorel_optarg;
            break;
        case 's':
            if (!p.svc_set_name)
                p.svc_set_name = vorel_optarg;
            break;
        case 'i':
            p.pic_name = vorel_optarg;
            break;
        case 'd':
            p.detail = 1;
            break;
        case 'b':
            p.detail = 0;
            break;
        case 'x': {
            // The word after -x's own argument is always consumed; without
            // one the host stays unset.
            bool wants_host = std::strcmp(vorel_optarg, "syslog_host") == 0;
            const char *word = vorel_getopt_next_word(argc, argv);
            if (wants_host && word && !parse_syslog_host(word, p.syslog_host))
                return false;
            break;
        }
        default:
            break;
        }
    }
    return true;
}

} // namespace

int vorel_handle_svc_set_command(int argc, char **argv, vorel_ctx *ctxt) {
    svc_set_params p;
    p.ctxt = ctxt;
    if (!parse_options(argc, argv, ctxt, p))
        return -1;
    const svc_set_op *op = find_op(p.subcommand);
    if (!op) {
        if (!ctxt->xml)
            vorel_note_failure("svc_set: unknown subcommand %s",
                               p.subcommand ? p.subcommand->c_str() : "(none)");
        return -1;
    }
    // An XML-only view still walks the PICs in text mode: its requests go
    // out as usual, and standard error says the view needs -X.
    if (op->view == svc_set_view::xml_only)
        vorel_xml_only_view(ctxt, (std::string("svc_set: ") + op->name).c_str());
    pic_walk walk;
    svc_set_walk(walk, p);
    if (op->walk)
        op->walk(walk, p);
    int rc = vorel_run_driver(walk, op->action, ctxt, &p);
    // A walk stopped by a failed send still closes what the operation
    // opened (the driver calls close only after a whole walk).
    if (rc < 0)
        op->action.close(ctxt, &p);
    return p.stopped_with_zero ? 0 : rc;
}

void svc_set_walk(pic_walk &walk, const svc_set_params &p) {
    walk.records = walk_records::asp;
    walk.pic_name = p.pic_name ? p.pic_name->c_str() : nullptr;
    walk.pic_name_len = ASP_NAME_LEN;
    walk.open_channel = vorel_open_pic_xml_error;
    walk.on_open_failure = open_failure::skip_pic;
    walk.loop = vorel_loop_pic();
    walk.on_query_failure = query_failure::stop_walk;
}

void svc_set_walk_fatal(pic_walk &walk, svc_set_params &) {
    walk.open_channel = vorel_open_pic_fatal;
}

bool svc_set_name_begins(const asp_info &asp, const char *prefix) {
    return std::strncmp(asp.name, prefix, std::strlen(prefix)) == 0;
}

bool svc_set_choose_pic_by_svc_set(const asp_info &asp, svc_set_params &p) {
    if (p.walk_over)
        return false;
    if (!p.svc_set_name)
        return true;
    // The service set runs on one PIC unless it is on a bundle, whose
    // members all have it: past the first ordinary PIC that has it, the
    // walk ends.
    if (p.prev_pic_had_svc_set && !p.mams_pic_had_svc_set) {
        p.walk_over = true;
        return false;
    }
    bool has = vorel_db_svc_set_find_by_name(&asp, p.svc_set_name->c_str()) != nullptr;
    p.prev_pic_had_svc_set = has;
    if (has && svc_set_name_begins(asp, "mams"))
        p.mams_pic_had_svc_set = true;
    return has;
}

bool svc_set_style_matches(uint32_t entry_style, const asp_info &asp, const svc_set_info &ss,
                           style_match rule) {
    uint32_t style = ss.style;
    if (asp.flags & ASP_F_MSP) {
        if (rule == style_match::low4_on_msp)
            style &= 0xf;
        else if (rule == style_match::low2_on_msp)
            style &= 0x3;
    }
    return entry_style == style;
}

vorel::ByteWriter svc_set_request(uint16_t type, size_t size, const svc_set_info *ss,
                                  uint8_t default_style) {
    vorel::ByteWriter req = vorel_request(type, 1, size, ss ? ss->id : 0);
    req.u8(8, ss ? ss->style : default_style);
    return req;
}

bool svc_set_fetch_drop_table(services_ui_conn *c, const asp_info &asp, const svc_set_info *ss,
                              uint16_t code, std::vector<svc_set_drop_entry> &table) {
    constexpr size_t kRequestSize = 20, kCountOffset = 20, kEntriesOffset = 24, kEntrySize = 40;
    vorel::ByteWriter req = svc_set_request(SVC_SET_DROPS_REQUEST, kRequestSize, ss);
    req.be16(16, code);
    if (vorel_send(c, req) < 0)
        return false;
    table.clear();
    svc_set_read_table(c, SVC_SET_DROPS_REPLY, 1, asp, kCountOffset, kEntriesOffset, kEntrySize,
                       table, [](const vorel::ByteReader &r) {
                           svc_set_drop_entry e;
                           for (size_t w = 0; w < 10; w++)
                               e.words[w] = r.be32(w * 4);
                           e.svc_set_id = e.words[4];
                           e.style = e.words[5];
                           return e;
                       });
    return true;
}

void svc_set_show_interface(const vorel_ctx *ctxt, const asp_info &asp, const char *element,
                            const char *name_element) {
    if (ctxt->xml) {
        xml_send_open(element);
        xml_send_all(name_element, "%s", asp.name);
        xml_send_close(element);
    } else {
        std::printf("Interface: %s\n", asp.name);
    }
}

int svc_set_nothing(vorel_ctx *, svc_set_params *) {
    return 0;
}

int svc_set_close_enclosing(vorel_ctx *ctxt, svc_set_params *) {
    vorel_close_enclosing(ctxt, nullptr, nullptr);
    return 0;
}

const svc_set_info *svc_set_chosen(const asp_info &asp, const svc_set_params &p) {
    return p.svc_set_name ? vorel_db_svc_set_find_by_name(&asp, p.svc_set_name->c_str()) : nullptr;
}

void svc_set_each_drop_entry(
    services_ui_conn *c, const asp_info &asp, uint16_t code,
    const std::function<void(const svc_set_info &ss, const svc_set_drop_entry &e)> &show) {
    std::vector<svc_set_drop_entry> table;
    const svc_set_info *first = vorel_db_svc_set_find_next(&asp, nullptr);
    if (!first || !svc_set_fetch_drop_table(c, asp, first, code, table))
        return;
    for (const svc_set_info *ss = first; ss; ss = vorel_db_svc_set_find_next(&asp, ss))
        if (const svc_set_drop_entry *e = svc_set_lookup(table, asp, *ss, style_match::low4_on_msp))
            show(*ss, *e);
}
