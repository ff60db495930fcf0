// Session utilization and analysis of the session engine, once per
// multiservices PIC: the utilization row (sessions, memory, setup, drop and
// teardown rates, CPU load and its zone), the session analysis (active
// sessions by protocol, rates, peaks, packet counters and two histograms)
// and the subscriber analysis, with the clears of the two analyses.
#include "platform/xml.h"
#include "vorel/vorel_ams_util.h"
#include "vorel/vorel_channel.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_tally.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kUtilRequest = 161;
constexpr uint16_t kUtilReply = 162;
constexpr uint16_t kSessAnalysisRequest = 124;
constexpr uint16_t kSessAnalysisReply = 125;
constexpr uint16_t kSubsAnalysisRequest = 126;
constexpr uint16_t kSubsAnalysisReply = 127;

constexpr size_t kUtilRequestSize = 16;
constexpr size_t kAnalysisRequestSize = 20;

// Versions of the analysis requests (show, clear) and of their replies.
constexpr uint16_t kShowVersion = 1;
constexpr uint16_t kClearVersion = 2;
constexpr uint16_t kShowReplyVersion = 3;
constexpr uint16_t kClearReplyVersion = 4;
constexpr uint16_t kUtilReplyVersion = 2;

// What each renderer reads of its reply.
constexpr size_t kUtilReadLen = 49;
constexpr size_t kSessAnalysisReadLen = 568;
constexpr size_t kSubsAnalysisReadLen = 168;

// Sends a header-only request and reads its one reply, rendered by render
// (not when clearing); a second reply is an error.  0, or -1 on a missing
// channel, a failed send or a second reply.
template <typename Render>
int single_reply_exchange(services_ui_conn *conn, const asp_info &asp, uint16_t type,
                          uint16_t version, size_t size, uint16_t reply_type,
                          uint16_t reply_version, size_t min_len, Render render) {
    if (!conn)
        return -1;
    return vorel_tally_exchange(conn, vorel_request(type, version, size), reply_type, reply_version,
                                min_len, asp.name, short_reply::end_answer, render);
}

// The PIC's name as the utilization and session analysis show it in XML:
// a bundle member under its "ms-" name.
std::string ms_form(const asp_info &asp) {
    uint8_t converted = 0;
    char ms_name[AMS_NAME_LEN];
    vorel_ms_name_of_mams(asp.name, &converted, ms_name);
    return converted ? std::string(ms_name) : std::string(asp.name);
}

// ---- Utilization ----

const char *zone_name(uint8_t zone) {
    switch (zone) {
    case 0:
        return "Green";
    case 1:
        return "Yellow";
    case 3:
        return "Red";
    default:
        return "";
    }
}

void render_util(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r) {
    uint32_t count = r.be32(16), memory = r.be32(20), setup = r.be32(28), drop = r.be32(32);
    uint32_t max_setup = r.be32(36), teardown = r.be32(40), cpu = r.be32(44);
    uint8_t zone = r.u8(48);
    double setup_percent = max_setup ? double(setup) / max_setup * 100 : 0;
    if (!ctxt->xml) {
        std::printf("%-10s  %-7u  %-3.2f  ", asp.name, count, memory / 100.0);
        std::printf("%-6u  %-3.2f  ", setup, setup_percent);
        std::printf("%-6u  %-6u    %u\n", drop, teardown, zone);
        return;
    }
    xml_send_open("services-sessions-utilization");
    xml_send_all("interface-name", "%s", ms_form(asp).c_str());
    xml_send_all("session-count", "%u", count);
    if (memory)
        xml_send_all("memory-percent", "%3.2f", memory / 100.0);
    xml_send_all("session-setup-rate", "%u", setup);
    if (max_setup) {
        xml_send_all("session-setup-percent", "%3.2f", setup_percent);
        xml_send_all("session-drop-rate", "%u", drop);
    }
    xml_send_all("session-teardown-rate", "%u", teardown);
    xml_send_all("cpu-load", "%2.2f %s", cpu / 100.0, zone_name(zone));
    xml_send_close("services-sessions-utilization");
}

int msp_sess_util_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                        msp_action_params *) {
    return single_reply_exchange(conn, *asp, kUtilRequest, kShowVersion, kUtilRequestSize,
                                 kUtilReply, kUtilReplyVersion, kUtilReadLen,
                                 [&](const vorel::ByteReader &r) { render_util(ctxt, *asp, r); });
}

constexpr vorel_enclosing kSessUtilEnclosing{
    "vorel: sess utilization start \n", "services-sessions-utilization-information",
    "            Session  %Count Setup  %Rate    Drop    TearDown  Zone\n"
    "Interface   Count           Rate            Rate    Rate\n",
    "vorel: sess utilization done \n"};

// ---- Session analysis ----

constexpr uint16_t kTcpRegularOffset = 32;
constexpr uint16_t kUdpRegularOffset = 56;

// total - gated - tunneled, never below 0.
uint32_t regular_sessions(const vorel::ByteReader &r, size_t total, size_t gated, size_t tunneled) {
    int64_t n = int64_t(r.be32(total)) - r.be32(gated) - r.be32(tunneled);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// The reply with the derived regular TCP and UDP counts in place of the
// PIC's own.
std::vector<uint8_t> with_regular_counts(const vorel::ByteReader &r) {
    std::vector<uint8_t> copy(r.data(), r.data() + r.size());
    auto put = [&](size_t off, uint32_t v) {
        for (int i = 0; i < 4; i++)
            copy[off + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    put(kTcpRegularOffset, regular_sessions(r, 20, 24, 28));
    put(kUdpRegularOffset, regular_sessions(r, 44, 48, 52));
    return copy;
}

const vorel_counter sess_analysis_counters[] = {
    {"num-total-session-active", 16},
    {"num-total-tcp-session-active", 20},
    {"num-total-tcp-gated-session-active", 24},
    {"num-total-tcp-tunneled-session-active", 28},
    {"num-total-tcp-regular-session-active", kTcpRegularOffset},
    {"num-total-tcp-ipv4-session-active", 36},
    {"num-total-tcp-ipv6-session-active", 40},
    {"num-total-udp-session-active", 44},
    {"num-total-udp-gated-session-active", 48},
    {"num-total-udp-tunneled-session-active", 52},
    {"num-total-udp-regular-session-active", kUdpRegularOffset},
    {"num-total-udp-ipv4-session-active", 60},
    {"num-total-udp-ipv6-session-active", 64},
    {"num-total-other-session-active", 68, 4, nullptr, 72}, // other IPv4 + IPv6
    {"num-total-other-ipv4-session-active", 68},
    {"num-total-other-ipv6-session-active", 72},
    {"num-created-session-per-sec", 76},
    {"num-deleted-session-per-sec", 80},
    {"peak-total-session-active", 84},
    {"peak-total-tcp-session-active", 88},
    {"peak-total-udp-session-active", 92},
    {"peak-total-other-session-active", 96},
    {"peak-created-session-per-second", 100},
    {"peak-deleted-session-per-second", 104},
    {"session-pkts-received", 112, 8},
    {"session-pkts-transmitted", 120, 8},
    {"session-slow-path-forward", 128, 8},
    {"session-slow-path-discard", 136, 8},
};

// One text line: a printf format with one value (the counter at offset,
// plus the one at plus when given), or a separator (offset 0).
struct text_line {
    const char *fmt;
    uint16_t offset = 0;
    uint8_t width = 4;
    uint16_t plus = 0;
};

const text_line sess_analysis_text[] = {
    {"\n Total sessions Active \t\t\t: %llu \n", 16},
    {"\n Total TCP Sessions Active \t\t : %llu ", 20},
    {"\n \t Regular TCP sessions \t\t : %llu ", kTcpRegularOffset},
    {"\n \t Tunneled TCP sessions \t\t : %llu ", 28},
    {"\n \t Tcp sessions from gate \t\t : %llu ", 24},
    {"\n\n"},
    {"\n \t IPv4 active Session \t\t : %llu ", 36},
    {"\n \t IPv6 active Session \t\t : %llu ", 40},
    {"\n\n"},
    {"\n Total UDP sessions Active \t\t : %llu ", 44},
    {"\n \t Regular UDP sessions \t\t : %llu ", kUdpRegularOffset},
    {"\n \t Tunneled UDP sessions \t\t : %llu ", 52},
    {"\n \t Udp sessions from gate \t\t : %llu ", 48},
    {"\n\n"},
    {"\n \t IPv4 active Session \t\t : %llu ", 60},
    {"\n \t IPv6 active Session \t\t : %llu ", 64},
    {"\n Total Other sessions Active \t\t : %llu ", 68, 4, 72},
    {"\n \t IPv4 active Session \t\t : %llu ", 68},
    {"\n \t IPv6 active Session \t\t : %llu ", 72},
    {"\n\n"},
    {"\nCreated sessions per Second \t\t : %llu ", 76},
    {"\nDeleted sessions per Second \t\t : %llu ", 80},
    {"\n"},
    {"\n Peak Total sessions Active \t\t : %llu ", 84},
    {"\n Peak Total TCP sessions Active \t\t : %llu ", 88},
    {"\n Peak Total UDP sessions Active \t\t : %llu ", 92},
    {"\n Peak Total Other sessions Active \t\t : %llu ", 96},
    {"\n "},
    {"\n Peak Created sessions per Second \t\t : %llu ", 100},
    {"\n Peak Deleted sessions per Second \t\t : %llu ", 104},
    {"\n "},
    {"\n Packets received \t\t : %llu ", 112, 8},
    {"\n Packets transmitted \t\t : %llu ", 120, 8},
    {"\n Slow path forward \t\t : %llu ", 128, 8},
    {"\n Slow path discard \t\t : %llu ", 136, 8},
};

uint64_t line_value(const text_line &l, const vorel::ByteReader &r) {
    return vorel_counter_value({nullptr, l.offset, l.width, nullptr, l.plus}, {&r, 1});
}

void sess_analysis_text_print(const asp_info &asp, const vorel::ByteReader &r) {
    std::printf("\n Interface name : %-20s", asp.name);
    std::printf("\n\n Session Analysis Statistics: \n\n");
    for (const text_line &l : sess_analysis_text) {
        if (l.offset == 0)
            std::fputs(l.fmt, stdout);
        else
            std::printf(l.fmt, static_cast<unsigned long long>(line_value(l, r)));
    }
}

// Histogram buckets, in the order the reply holds them.
const char *const sess_sec_buckets[] = {
    "400000-plus", "350000-plus", "300000-plus", "250000-plus", "200000-plus",
    "150000-plus", "50000-plus",  "40000-50000", "30000-40000", "20000-30000",
    "10000-20000", "1000-10000",  "1000-minus",  "0",
};
const char *const lifetime_buckets[] = {
    "240s-plus", "120s-240s", "60s-120s", "30s-60s", "15s-30s", "5s-15s", "1s-5s", "1s-minus",
};
const char *const subs_sec_buckets[] = {
    "400000-plus", "350000-plus", "300000-plus", "250000-plus", "200000-plus",
    "150000-plus", "100000-plus", "50000-plus",  "40000-plus",  "30000-plus",
    "20000-plus",  "10000-plus",  "1000-plus",   "1000-minus",  "0",
};

constexpr size_t kLifetimeOffset = 144;
constexpr size_t kSessSamplesOffset = 336;
constexpr size_t kSessSecOffset = 344;

// A per-second histogram as two entries, creation then deletion: each
// bucket holds the creation value, then the deletion value (width bytes
// each).
template <size_t N>
void sec_histograms(const vorel::ByteReader &r, const char *element, const char *op_element,
                    const char *prefix, const char *const (&buckets)[N], size_t offset,
                    size_t width) {
    static const char *const operations[] = {"Creation", "Deletion"};
    for (size_t column = 0; column < 2; column++) {
        xml_send_open(element);
        xml_send_all(op_element, "%s", operations[column]);
        for (size_t i = 0; i < N; i++) {
            size_t at = offset + (i * 2 + column) * width;
            unsigned long long v = width == 8 ? r.be64(at) : r.be32(at);
            xml_send_all((std::string(prefix) + buckets[i]).c_str(), "%llu", v);
        }
        xml_send_close(element);
    }
}

// An element holding one leaf.
void single_leaf(const char *element, const char *leaf, const std::string &text) {
    xml_send_open(element);
    xml_send_all(leaf, "%s", text.c_str());
    xml_send_close(element);
}

void sess_analysis_xml(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r) {
    xml_send_open("service-session-analysis-entry");
    single_leaf("session-analysis-statistics-pic-info", "pic-name", ms_form(asp));

    vorel_counters_emit(ctxt, {"session-analysis-statistics-entry", sess_analysis_counters}, r,
                        nullptr);

    single_leaf("sess-analysis-num-sess-sec-samples-entry", "num-sess-sec-samples",
                std::to_string(r.be32(kSessSamplesOffset)));
    sec_histograms(r, "sess-analysis-num-sess-sec-entry", "sess-operation", "num-sess-sec-",
                   sess_sec_buckets, kSessSecOffset, 8);

    xml_send_open("sess-analysis-protocol-lifetime-entry");
    static const char *const protocols[] = {"tcp", "udp", "http"};
    for (size_t i = 0; i < std::size(lifetime_buckets); i++)
        for (size_t p = 0; p < std::size(protocols); p++)
            xml_send_all(
                (std::string(protocols[p]) + "-sess-lifetime-" + lifetime_buckets[i]).c_str(),
                "%llu", static_cast<unsigned long long>(r.be64(kLifetimeOffset + (i * 3 + p) * 8)));
    xml_send_close("sess-analysis-protocol-lifetime-entry");
    xml_send_close("service-session-analysis-entry");
}

void render_sess_analysis(const vorel_ctx *ctxt, const asp_info &asp,
                          const vorel::ByteReader &reply) {
    std::vector<uint8_t> copy = with_regular_counts(reply);
    vorel::ByteReader r(copy);
    if (ctxt->xml)
        sess_analysis_xml(ctxt, asp, r);
    else
        sess_analysis_text_print(asp, r);
}

uint16_t request_version(const msp_action_params &p) {
    return p.clear_stats ? kClearVersion : kShowVersion;
}
uint16_t reply_version(const msp_action_params &p) {
    return p.clear_stats ? kClearReplyVersion : kShowReplyVersion;
}

int msp_sess_analysis_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp, svc_set_info *,
                            msp_action_params *p) {
    bool show = !p->clear_stats;
    return single_reply_exchange(conn, *asp, kSessAnalysisRequest, request_version(*p),
                                 kAnalysisRequestSize, kSessAnalysisReply, reply_version(*p),
                                 show ? kSessAnalysisReadLen : 0, [&](const vorel::ByteReader &r) {
                                     if (show)
                                         render_sess_analysis(ctxt, *asp, r);
                                 });
}

int msp_sess_analysis_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: sess analysis start \n",
                         "service-session-analysis-information", "\n Session Analysis \n");
    return 0;
}

int msp_sess_analysis_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: sess analysis done \n", nullptr);
    return 0;
}

// ---- Subscriber analysis (XML only) ----

const vorel_counter subs_analysis_counters[] = {
    {"num-total-subs-active", 20},        {"num-created-subs-per-sec", 24},
    {"num-deleted-subs-per-sec", 28},     {"peak-total-subs-active", 32},
    {"peak-created-subs-per-second", 36}, {"peak-deleted-subs-per-second", 40},
};
constexpr size_t kSubsSamplesOffset = 44;
constexpr size_t kSubsSecOffset = 48;

// The elements go straight into the command's root element, one run per
// PIC.
void render_subs_analysis(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &r) {
    if (!ctxt->xml)
        return;
    single_leaf("subs-analysis-statistics-pic-info", "pic-name", asp.name);
    vorel_counters_emit(ctxt, {"subs-analysis-statistics-entry", subs_analysis_counters}, r,
                        nullptr);
    single_leaf("subs-analysis-num-subs-sec-samples-entry", "num-subs-sec-samples",
                std::to_string(r.be32(kSubsSamplesOffset)));
    sec_histograms(r, "msp-subs-analysis-num-subs-sec-entry", "msp-subs-operation",
                   "msp-num-subs-sec-", subs_sec_buckets, kSubsSecOffset, 4);
}

int msp_subscriber_analysis_query(vorel_ctx *ctxt, services_ui_conn *conn, asp_info *asp,
                                  svc_set_info *, msp_action_params *p) {
    bool show = !p->clear_stats;
    return single_reply_exchange(conn, *asp, kSubsAnalysisRequest, request_version(*p),
                                 kAnalysisRequestSize, kSubsAnalysisReply, reply_version(*p),
                                 show ? kSubsAnalysisReadLen : 0, [&](const vorel::ByteReader &r) {
                                     if (show)
                                         render_subs_analysis(ctxt, *asp, r);
                                 });
}

template <bool Show> int msp_subscriber_analysis_open(vorel_ctx *ctxt) {
    vorel_open_enclosing(ctxt, "vorel: subs analysis start \n",
                         "msp-service-subs-analysis-information", "\n Subscriber Analysis \n");
    if (Show)
        vorel_xml_only_view(ctxt, "the subscriber analysis");
    return 0;
}

int msp_subscriber_analysis_close(vorel_ctx *ctxt) {
    vorel_close_enclosing(ctxt, "vorel: subs analysis done \n", nullptr);
    return 0;
}

} // namespace

const msp_cmd_handlers msp_sess_util_handlers =
    msp_handlers<kSessUtilEnclosing>(msp_sess_util_query);
const msp_cmd_handlers msp_sess_analysis_handlers = {
    msp_sess_analysis_open, msp_sess_analysis_close, msp_sess_analysis_query};
const msp_cmd_handlers msp_subs_analysis_handlers = {msp_subscriber_analysis_open<true>,
                                                     msp_subscriber_analysis_close,
                                                     msp_subscriber_analysis_query};
const msp_cmd_handlers msp_subs_analysis_clear_handlers = {msp_subscriber_analysis_open<false>,
                                                           msp_subscriber_analysis_close,
                                                           msp_subscriber_analysis_query};
