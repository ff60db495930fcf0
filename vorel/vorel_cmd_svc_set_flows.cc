// -C svc_set -S set_drop_flow_limit: per service set, the current drop
// flows and the packets dropped above the drop-flow limits.
// -S qflow_log and -S clear_qflow_log: the counters of the flow-logging
// (template-based export) facility per PIC, per service set and, in
// detail, per export template, and their clearing.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_section.h"

#include <cstdio>

namespace {

// Drop flows: reply 104 to request 103 with code 2.
constexpr uint16_t kDropFlowCode = 2;
constexpr size_t kIngressFlows = 6, kEgressFlows = 7, kIngressLimitDrops = 8,
                 kEgressLimitDrops = 9; // words of a drop record

constexpr uint16_t kQflowRequest = 247, kQflowClearRequest = 250, kQflowClearReply = 251;
constexpr uint16_t kGlobalReply = 249, kSvcSetReply = 248;
constexpr size_t kQflowRequestSize = 16;
constexpr size_t kGlobalReplySize = 56, kSvcSetReplySize = 700;
constexpr size_t kSvcSetIdOffset = 16, kUnresolvableOffset = 696;
constexpr size_t kTemplatesOffset = 24, kTemplateSize = 56, kTemplates = 12;
// Counters of a template block.
constexpr size_t kDataSent = 0, kDataInvalid = 8, kDataNoMemory = 16, kTemplateSent = 24,
                 kTemplateSendError = 32, kTemplateNoMemory = 40, kDataAboveRateLimit = 48;

const char *const kTemplateNames[kTemplates] = {"NAT44 Session",
                                                "NAT64 Session",
                                                "NAT44 BIB",
                                                "NAT64 BIB",
                                                "NAT Address Exhausted",
                                                "NAT Port Exhausted",
                                                "NAT44 Quota Exceeded",
                                                "NAT64 Quota Exceeded",
                                                "NAT44 Address Bind",
                                                "NAT64 Address Bind",
                                                "NAT44 PBA",
                                                "NAT64 PBA"};

// The global page; the text's section headings lead the labels they head.
const vorel_counter kGlobalCounters[] = {
    {"qflow-log-stats-global-rate-limit", 48, 8, "Rate limit"},
    {"qflow-log-stats-global-template-refresh-sent", 32, 8, "Template records:\n  Sent"},
    {"qflow-log-stats-global-template-refresh-dropped", 40, 8, "  Dropped"},
    {"qflow-log-stats-global-sent", 16, 8, "Data records:\n  Sent"},
    {"qflow-log-stats-global-dropped", 24, 8, "  Dropped"},
};

uint64_t add(uint64_t a, uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// --- drop flows

void render_drop_flow(const vorel_ctx *ctxt, const asp_info &asp, const svc_set_info &ss,
                      const svc_set_drop_entry &e) {
    const uint32_t *w = e.words;
    if (!ctxt->xml) {
        std::printf("%-12s%-32s%+8d  %+10d  %+8d %+8d\n", asp.name, ss.name,
                    static_cast<int>(w[kIngressFlows]), static_cast<int>(w[kEgressFlows]),
                    static_cast<int>(w[kIngressLimitDrops]),
                    static_cast<int>(w[kEgressLimitDrops]));
        return;
    }
    xml_send_open("service-set-drop-flows");
    xml_send_all("interface-name", "%s", asp.name);
    xml_send_all("service-set-name", "%s", ss.name);
    xml_send_all("current-ingress-drop-flow", "%u", w[kIngressFlows]);
    xml_send_all("current-egress-drop-flow", "%u", w[kEgressFlows]);
    xml_send_all("pkt-drop-exceed-ingress-drop-flow-limit", "%u", w[kIngressLimitDrops]);
    xml_send_all("pkt-drop-exceed-egress-drop-flow-limit", "%u", w[kEgressLimitDrops]);
    xml_send_close("service-set-drop-flows");
}

int drop_flow_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                    svc_set_params *) {
    svc_set_each_drop_entry(c, *asp, kDropFlowCode,
                            [&](const svc_set_info &ss, const svc_set_drop_entry &e) {
                                render_drop_flow(ctxt, *asp, ss, e);
                            });
    return 0;
}

int drop_flow_open(vorel_ctx *ctxt, svc_set_params *) {
    vorel_open_enclosing(ctxt, nullptr, "service-set-drop-flow-statistics",
                         "Interface   Service Set                       Ingress DropFlow  Egress "
                         "DropFlow  Pkt Drop (Ingress Limit) Pkt Drop (Egress Limit) \n"
                         "-------------------------------------------------------------------------"
                         "----------- \n",
                         {xml_attr_style("brief")});
    return 0;
}

bool not_sp(const asp_info &asp) {
    return !svc_set_name_begins(asp, "sp") && !svc_set_name_begins(asp, "rsp");
}

void drop_flow_walk(pic_walk &walk, svc_set_params &p) {
    svc_set_walk_fatal(walk, p);
    walk.admit = not_sp;
}

// --- flow logging

uint64_t template_counter(const vorel::ByteReader &r, size_t k, size_t counter) {
    return r.be64(kTemplatesOffset + k * kTemplateSize + counter);
}

struct template_sums {
    uint64_t data_sent = 0, data_dropped = 0, template_sent = 0, template_dropped = 0;
};

template_sums template_block(const vorel::ByteReader &r, size_t k) {
    template_sums t;
    t.data_sent = template_counter(r, k, kDataSent);
    t.data_dropped =
        add(add(template_counter(r, k, kDataInvalid), template_counter(r, k, kDataNoMemory)),
            template_counter(r, k, kDataAboveRateLimit));
    t.template_sent = template_counter(r, k, kTemplateSent);
    t.template_dropped =
        add(template_counter(r, k, kTemplateSendError), template_counter(r, k, kTemplateNoMemory));
    return t;
}

void show_templates(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    for (size_t k = 0; k < kTemplates; k++) {
        template_sums t = template_block(r, k);
        unsigned long long send_error = template_counter(r, k, kTemplateSendError);
        unsigned long long no_memory = template_counter(r, k, kTemplateNoMemory);
        unsigned long long invalid = template_counter(r, k, kDataInvalid);
        unsigned long long data_no_memory = template_counter(r, k, kDataNoMemory);
        unsigned long long above = template_counter(r, k, kDataAboveRateLimit);
        if (ctxt->xml) {
            xml_send_open("qflow-log-stats-templates");
            xml_send_all("qflow-log-stats-template-name", "%s", kTemplateNames[k]);
            xml_send_all("qflow-log-stats-template-refresh-sent", "%llu",
                         static_cast<unsigned long long>(t.template_sent));
            xml_send_all("qflow-log-stats-template-refresh-dropped", "%llu",
                         static_cast<unsigned long long>(t.template_dropped));
            xml_send_all("qflow-log-stats-template-refresh-dropped-socket-send-error", "%llu",
                         send_error);
            xml_send_all("qflow-log-stats-template-refresh-dropped-no-memory", "%llu", no_memory);
            xml_send_all("qflow-log-stats-template-sent", "%llu",
                         static_cast<unsigned long long>(t.data_sent));
            xml_send_all("qflow-log-stats-template-dropped", "%llu",
                         static_cast<unsigned long long>(t.data_dropped));
            xml_send_all("qflow-log-stats-template-dropped-invalid-data", "%llu", invalid);
            xml_send_all("qflow-log-stats-template-dropped-no-memory", "%llu", data_no_memory);
            xml_send_all("qflow-log-stats-template-dropped-above-rate-limit", "%llu", above);
            xml_send_close("qflow-log-stats-templates");
            continue;
        }
        std::printf("      %s logs:\n", kTemplateNames[k]);
        std::printf("        Template records:\n");
        std::printf("          Sent: %llu\n", static_cast<unsigned long long>(t.template_sent));
        std::printf("          Dropped: %llu (socket send error: %llu, no memory: %llu)\n",
                    static_cast<unsigned long long>(t.template_dropped), send_error, no_memory);
        std::printf("        Data records:\n");
        std::printf("          Sent: %llu\n", static_cast<unsigned long long>(t.data_sent));
        std::printf("          Dropped: %llu (invalid data: %llu, unavailable memory: %llu, above "
                    "rate limit: %llu)\n",
                    static_cast<unsigned long long>(t.data_dropped), invalid, data_no_memory,
                    above);
    }
}

void show_svc_set(const vorel_ctx *ctxt, const vorel::ByteReader &r, const svc_set_info &ss,
                  int detail) {
    template_sums sum;
    for (size_t k = 0; k < kTemplates; k++) {
        template_sums t = template_block(r, k);
        sum.data_sent = add(sum.data_sent, t.data_sent);
        sum.data_dropped = add(sum.data_dropped, t.data_dropped);
        sum.template_sent = add(sum.template_sent, t.template_sent);
        sum.template_dropped = add(sum.template_dropped, t.template_dropped);
    }
    unsigned unresolvable = r.be32(kUnresolvableOffset);
    if (ctxt->xml) {
        xml_send_open("qflow-log-stats-service-set");
        xml_send_all("qflow-log-stats-svc-set-name", "%s", ss.name);
        xml_send_all("qflow-log-stats-svc-set-unresolvable-collectors", "%u", unresolvable);
        xml_send_all("qflow-log-stats-svc-set-template-refresh-sent", "%llu",
                     static_cast<unsigned long long>(sum.template_sent));
        xml_send_all("qflow-log-stats-svc-set-template-refresh-dropped", "%llu",
                     static_cast<unsigned long long>(sum.template_dropped));
        xml_send_all("qflow-log-stats-svc-set-sent", "%llu",
                     static_cast<unsigned long long>(sum.data_sent));
        xml_send_all("qflow-log-stats-svc-set-dropped", "%llu",
                     static_cast<unsigned long long>(sum.data_dropped));
        xml_send_close("qflow-log-stats-service-set");
    } else {
        std::printf("  Service set: %s \n", ss.name);
        std::printf("    Unresolvable collectors: %u \n", unresolvable);
        std::printf("    Template records:\n");
        std::printf("      sent: %llu \n", static_cast<unsigned long long>(sum.template_sent));
        std::printf("      dropped: %llu \n",
                    static_cast<unsigned long long>(sum.template_dropped));
        std::printf("    Data records:\n");
        std::printf("      Messages sent: %llu \n", static_cast<unsigned long long>(sum.data_sent));
        std::printf("      Messages dropped: %llu \n",
                    static_cast<unsigned long long>(sum.data_dropped));
    }
    if (detail)
        show_templates(ctxt, r); // siblings after the service-set element
}

int qflow_log_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                    svc_set_params *p) {
    const svc_set_info *chosen = svc_set_chosen(*asp, *p);
    if (vorel_send(c, svc_set_request(kQflowRequest, kQflowRequestSize, chosen, 'B')) < 0)
        return 0;
    if (!chosen) {
        vorel::ByteReader global = vorel_receive_at_least(c, kGlobalReply, 1, kGlobalReplySize,
                                                          asp->name, short_reply::end_answer);
        if (!global.empty())
            vorel_counters_emit(ctxt, {"qflow-log-stats-global", kGlobalCounters}, global,
                                "%s: %llu\n");
    }
    for (;;) {
        vorel::ByteReader r = vorel_receive_at_least(c, kSvcSetReply, 1, kSvcSetReplySize,
                                                     asp->name, short_reply::skip);
        if (r.empty())
            break;
        if (const svc_set_info *ss = vorel_db_svc_set_find_by_id(asp, r.be16(kSvcSetIdOffset)))
            show_svc_set(ctxt, r, *ss, p->detail);
    }
    return 0;
}

// The interface is shown before its channel is opened.
services_ui_conn *show_interface_and_open(const svc_set_params &p, const asp_info &asp) {
    svc_set_show_interface(p.ctxt, asp, "qflow-log-stats-interface",
                           "qflow-log-stats-interface-name");
    return vorel_open_pic_fatal(asp);
}

void qflow_log_walk(pic_walk &walk, svc_set_params &p) {
    walk.admit = [&p](const asp_info &asp) {
        return !svc_set_name_begins(asp, "sp") && svc_set_choose_pic_by_svc_set(asp, p);
    };
    walk.open_channel = [&p](const asp_info &asp) { return show_interface_and_open(p, asp); };
}

int clear_qflow_log_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                          svc_set_params *p) {
    vorel::ByteWriter req =
        svc_set_request(kQflowClearRequest, kQflowRequestSize, svc_set_chosen(*asp, *p), 'B');
    if (vorel_send(c, req) >= 0)
        vorel_receive(c, kQflowClearReply, 1);
    return 0;
}

// With -s only the first PIC that has the service set is cleared.
void clear_qflow_log_walk(pic_walk &walk, svc_set_params &p) {
    walk.admit = [&p](const asp_info &asp) {
        if (!p.svc_set_name)
            return true;
        if (p.walk_over || !vorel_db_svc_set_find_by_name(&asp, p.svc_set_name->c_str()))
            return false;
        p.walk_over = true;
        return true;
    };
    walk.open_channel = [&p](const asp_info &asp) { return show_interface_and_open(p, asp); };
}

} // namespace

const svc_set_op svc_set_drop_flow_op = {
    "set_drop_flow_limit",
    {"set_drop_flow_limit", drop_flow_open, svc_set_close_enclosing, drop_flow_query},
    drop_flow_walk};
const svc_set_op svc_set_qflow_log_op = {
    "qflow_log", {"qflow_log", svc_set_nothing, svc_set_nothing, qflow_log_query}, qflow_log_walk};
const svc_set_op svc_set_clear_qflow_log_op = {
    "clear_qflow_log",
    {"clear_qflow_log", svc_set_nothing, svc_set_nothing, clear_qflow_log_query},
    clear_qflow_log_walk};
