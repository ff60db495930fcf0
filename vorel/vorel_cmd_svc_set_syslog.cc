// -C svc_set -S syslog and -S clear_syslog: the counters each PIC keeps
// about the system-log messages it sends to its log hosts, per host, per
// service set and, in detail, per class of message.
//
// A PIC answers with one reply per log host and service set (service-set
// id 0: the PIC-wide host); replies of one service set come together.
#include "vorel/vorel_cmd_svc_set.h"

#include "platform/xml.h"
#include "vorel/vorel_section.h"

#include <arpa/inet.h>
#include <cstdio>

namespace {

constexpr uint16_t kRequest = 156, kReply = 157;
constexpr uint16_t kClearRequest = 159, kClearReply = 160;
constexpr size_t kRequestSize = 40, kClearRequestSize = 36;
constexpr size_t kReplySize = 728;
constexpr size_t kSvcSetIdOffset = 16, kRateLimitOffset = 20;
constexpr size_t kHostOffset = 24, kHostV6Offset = 40, kLocalOffset = 44;
constexpr size_t kClassesOffset = 48, kClassSize = 40, kClasses = 17;
// Counters of a class block.
constexpr size_t kSent = 0, kLowPriority = 8, kNoneSeverity = 16, kNoClass = 24, kDropped = 32;

const char *const kClassNames[kClasses] = {"Session open",
                                           "Session close",
                                           "Packet",
                                           "Stateful firewall",
                                           "ALG",
                                           "NAT",
                                           "IDS",
                                           "PCP MAP",
                                           "PCP protocol",
                                           "PCP protocol error",
                                           "PCP debug",
                                           "HA open sync",
                                           "HA close sync",
                                           "DET_NAT_CONFIG",
                                           "URL Filtering",
                                           "Other",
                                           ""};

uint64_t class_counter(const vorel::ByteReader &r, size_t k, size_t counter) {
    return r.be64(kClassesOffset + k * kClassSize + counter);
}

uint64_t sum_over_classes(const vorel::ByteReader &r, size_t counter) {
    uint64_t sum = 0;
    for (size_t k = 0; k < kClasses; k++)
        sum += class_counter(r, k, counter);
    return sum;
}

// The log host value of the requests: four address words, then the IPv6
// word (0: the host given with -x is IPv4).
void write_host(vorel::ByteWriter &w, size_t off, const vorel_addr &host) {
    for (size_t i = 0; i < 4; i++)
        w.be32(off + 4 * i, host.words[i]);
    w.be32(off + 16, host.is_v6);
}

// Dropped above the rate limit: what the total leaves once the drops for
// low priority, none severity and no class set are taken out.
uint64_t above_rate_limit(uint64_t total, uint64_t low, uint64_t none, uint64_t no_class) {
    uint64_t known = low;
    for (uint64_t v : {none, no_class})
        known = known > UINT64_MAX - v ? UINT64_MAX : known + v;
    return total > known ? total - known : 0;
}

void show_classes(const vorel_ctx *ctxt, const vorel::ByteReader &r) {
    for (size_t k = 0; k < kClasses; k++) {
        unsigned long long sent = class_counter(r, k, kSent);
        unsigned long long dropped = class_counter(r, k, kDropped);
        unsigned long long low = class_counter(r, k, kLowPriority);
        unsigned long long none = class_counter(r, k, kNoneSeverity);
        unsigned long long no_class = class_counter(r, k, kNoClass);
        unsigned long long above = above_rate_limit(dropped, low, none, no_class);
        if (ctxt->xml) {
            xml_send_open("syslog-stats-class");
            xml_send_all("syslog-stats-class-name", "%s", kClassNames[k]);
            xml_send_all("syslog-stats-class-sent", "%llu", sent);
            xml_send_all("syslog-stats-class-dropped", "%llu", dropped);
            xml_send_all("syslog-stats-class-dropped-above-rate-limit", "%llu", above);
            xml_send_close("syslog-stats-class");
        } else {
            std::printf("      %s logs:\n", kClassNames[k]);
            std::printf("        Sent: %llu\n", sent);
            std::printf("        Dropped: %llu (low priority: %llu, none severity: %llu, no class "
                        "set: %llu, above rate limit: %llu)\n",
                        dropped, low, none, no_class, above);
        }
    }
}

void show_host(const vorel_ctx *ctxt, const vorel::ByteReader &r, int detail) {
    char text[INET6_ADDRSTRLEN + 8] = "local";
    if (r.be32(kLocalOffset) == 0) {
        vorel_addr host = vorel_addr_read(r, kHostOffset);
        host.is_v6 = r.be32(kHostV6Offset) != 0;
        ipaddr_tostring(&host, text, sizeof text);
    }
    unsigned long long sent = sum_over_classes(r, kSent);
    unsigned long long dropped = sum_over_classes(r, kDropped);
    bool global = r.be16(kSvcSetIdOffset) == 0;
    if (ctxt->xml) {
        const char *element = global ? "syslog-stats-global-host" : "syslog-stats-service-set-host";
        xml_send_open(element);
        if (global) {
            xml_send_all("syslog-stats-global-host-address", "%s", text);
            xml_send_all("syslog-stats-global-host-sent", "%llu", sent);
            xml_send_all("syslog-stats-global-host-dropped", "%llu", dropped);
        } else {
            xml_send_all("syslog-stats-service-set-host-address", "%s", text);
            xml_send_all("syslog-stats-service-set-host-sent", "%llu", sent);
            xml_send_all("syslog-stats-service-set-host-dropped", "%llu", dropped);
        }
        if (detail && !global)
            show_classes(ctxt, r);
        xml_send_close(element);
        return;
    }
    if (global) {
        std::printf("  Host: %s\n    Sent: %llu\n    Dropped: %llu\n", text, sent, dropped);
        return;
    }
    std::printf("    Host: %s\n      Sent: %llu\n      Dropped: %llu\n", text, sent, dropped);
    if (detail)
        show_classes(ctxt, r);
}

int syslog_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *,
                 svc_set_params *p) {
    vorel::ByteWriter req = svc_set_request(kRequest, kRequestSize, svc_set_chosen(*asp, *p), 'B');
    write_host(req, 20, p->syslog_host);
    if (vorel_send(c, req) < 0)
        return 0;
    vorel_section interface(ctxt, "syslog-stats-interface");
    interface.on_text_open([asp] { std::printf("Interface: %s\n", asp->name); });
    const svc_set_info *current = nullptr;
    vorel_section svc_set(ctxt, "syslog-stats-service-set");
    svc_set.on_text_open([&current] { std::printf("  Service set: %s \n", current->name); });
    for (;;) {
        vorel::ByteReader r =
            vorel_receive_at_least(c, kReply, 1, kReplySize, asp->name, short_reply::skip);
        if (r.empty())
            break;
        uint16_t id = r.be16(kSvcSetIdOffset);
        const svc_set_info *ss = id ? vorel_db_svc_set_find_by_id(asp, id) : nullptr;
        if (id && !ss)
            continue; // counters of a service set this PIC does not run
        if (interface.open()) {
            xml_send_all("syslog-stats-interface-name", "%s", asp->name);
            if (id == 0) {
                if (!ctxt->xml)
                    std::printf("  Rate limit: %u\n", r.be32(kRateLimitOffset));
                xml_send_all("syslog-stats-interface-rate-limit", "%u", r.be32(kRateLimitOffset));
                show_host(ctxt, r, p->detail);
                continue;
            }
        }
        if (ss && ss != current) {
            svc_set.close();
            current = ss;
            if (svc_set.open())
                xml_send_all("syslog-stats-svc-set-name", "%s", ss->name);
        }
        // A service set whose hosts resume after a PIC-wide host gets its
        // heading again.
        if (id == 0)
            current = nullptr;
        show_host(ctxt, r, p->detail);
    }
    svc_set.close();
    interface.close();
    return 0;
}

int clear_syslog_query(vorel_ctx *, services_ui_conn *c, asp_info *asp, svc_set_info *,
                       svc_set_params *p) {
    vorel::ByteWriter req =
        svc_set_request(kClearRequest, kClearRequestSize, svc_set_chosen(*asp, *p), 'B');
    write_host(req, 16, p->syslog_host);
    if (vorel_send(c, req) >= 0)
        vorel_receive(c, kClearReply, 1);
    return 0;
}

void syslog_walk(pic_walk &walk, svc_set_params &p) {
    walk.admit = [&p](const asp_info &asp) { return svc_set_choose_pic_by_svc_set(asp, p); };
}

void clear_syslog_walk(pic_walk &walk, svc_set_params &p) {
    syslog_walk(walk, p);
    walk.open_channel = [&p](const asp_info &asp) {
        svc_set_show_interface(p.ctxt, asp, "syslog-stats-interface",
                               "syslog-stats-interface-name");
        return vorel_open_pic_xml_error(asp);
    };
}

} // namespace

const svc_set_op svc_set_syslog_op = {
    "syslog", {"syslog", svc_set_nothing, svc_set_nothing, syslog_query}, syslog_walk};
const svc_set_op svc_set_clear_syslog_op = {
    "clear_syslog",
    {"clear_syslog", svc_set_nothing, svc_set_nothing, clear_syslog_query},
    clear_syslog_walk};
