// Flow and subscriber analysis of each PIC (flow_analysis, subs_analysis)
// and their clearing (clear_flow_analysis, clear_subs_analysis): active
// flows or subscribers, creation and deletion rates with their peaks, a
// histogram of per-second rates and, for flows, their lifetimes.  XML only;
// a clear shows nothing.
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_counters.h"
#include "vorel/vorel_error.h"
#include "vorel/vorel_section.h"

#include <array>

namespace {

constexpr uint16_t kVersion = 1;
constexpr size_t kRequestSize = 20;
constexpr size_t kSubcmdOffset = 16;
constexpr size_t kHistogramBuckets = 12;
constexpr uint16_t kBucketStride = 12; // creation, deletion, one word not shown

// Counters of one width at first, first + stride, ...
template <size_t N>
constexpr std::array<vorel_counter, N> counter_run(const char *const (&names)[N], uint16_t first,
                                                   uint16_t stride, uint8_t width) {
    std::array<vorel_counter, N> out{};
    for (size_t i = 0; i < N; i++)
        out[i] = {names[i], static_cast<uint16_t>(first + i * stride), width};
    return out;
}

// ---------------------------------------------------------------------------
// Flow analysis: reply 21, the record from offset 24.

constexpr uint16_t kFlowRequest = 20, kFlowReply = 21;
constexpr uint16_t kFlowRecord = 24;
constexpr size_t kFlowReplySize = kFlowRecord + 432;

constexpr const char *kFlowActive[] = {
    "num-total-flows-active",           "num-total-tcp-flows-active",
    "num-total-udp-flows-active",       "num-total-other-flows-active",
    "num-total-predicted-flows-active", "num-total-pred-discard-flows-active",
    "num-created-flows-per-sec",        "num-deleted-flows-per-sec",
    "peak-total-flows-active",          "peak-total-tcp-flows-active",
    "peak-total-udp-flows-active",      "peak-total-other-flows-active",
    "peak-created-flows-per-second",    "peak-deleted-flows-per-second",
};
constexpr const char *kFlowPackets[] = {
    "pkts-received",
    "pkts-transmitted",
    "slow-path-forward",
    "slow-path-discard",
    "slow-path-predicted-discard",
};
constexpr const char *kFlowRates[] = {
    "num-flows-sec-300000-plus", "num-flows-sec-250000-plus", "num-flows-sec-200000-plus",
    "num-flows-sec-160000-plus", "num-flows-sec-150000-plus", "num-flows-sec-50000-plus",
    "num-flows-sec-40000-50000", "num-flows-sec-30000-40000", "num-flows-sec-20000-30000",
    "num-flows-sec-10000-20000", "num-flows-sec-1000-10000",  "num-flows-sec-1000-minus",
};
static_assert(std::size(kFlowRates) == kHistogramBuckets);

const auto kFlowActiveCounters = counter_run(kFlowActive, kFlowRecord + 0, 4, 4);
const auto kFlowPacketCounters = counter_run(kFlowPackets, kFlowRecord + 56, 8, 8);
const vorel_counter kFlowSamples[] = {{"num-flows-sec-samples", kFlowRecord + 288}};
const auto kFlowCreation = counter_run(kFlowRates, kFlowRecord + 292, kBucketStride, 4);
const auto kFlowDeletion = counter_run(kFlowRates, kFlowRecord + 296, kBucketStride, 4);

// Lifetimes: bucket k holds all flows at 96 + 24k and UDP flows at
// 104 + 24k; only bucket 0's third word (HTTP) is shown, after its UDP.
constexpr uint16_t kLifetime = kFlowRecord + 96;
const vorel_counter kFlowLifetimes[] = {
    {"flow-lifetime-240s-plus", kLifetime + 0, 8},
    {"udp-flow-lifetime-240s-plus", kLifetime + 8, 8},
    {"http-flow-lifetime-240s-plus", kLifetime + 16, 8},
    {"flow-lifetime-120s-240s", kLifetime + 24, 8},
    {"udp-flow-lifetime-120s-240s", kLifetime + 32, 8},
    {"flow-lifetime-60s-120s", kLifetime + 48, 8},
    {"udp-flow-lifetime-60s-120s", kLifetime + 56, 8},
    {"flow-lifetime-30s-60s", kLifetime + 72, 8},
    {"udp-flow-lifetime-30s-60s", kLifetime + 80, 8},
    {"flow-lifetime-15s-30s", kLifetime + 96, 8},
    {"udp-flow-lifetime-15s-30s", kLifetime + 104, 8},
    {"flow-lifetime-5s-15s", kLifetime + 120, 8},
    {"udp-flow-lifetime-5s-15s", kLifetime + 128, 8},
    {"flow-lifetime-1s-5s", kLifetime + 144, 8},
    {"udp-flow-lifetime-1s-5s", kLifetime + 152, 8},
    {"flow-lifetime-1s-minus", kLifetime + 168, 8},
    {"udp-flow-lifetime-1s-minus", kLifetime + 176, 8},
};

// ---------------------------------------------------------------------------
// Subscriber analysis: reply 229, the record from offset 20.

constexpr uint16_t kSubsRequest = 228, kSubsReply = 229;
constexpr uint16_t kSubsRecord = 20;
constexpr size_t kSubsReplySize = kSubsRecord + 168;

constexpr const char *kSubsActive[] = {
    "num-total-subs-active",  "num-created-subs-per-sec",     "num-deleted-subs-per-sec",
    "peak-total-subs-active", "peak-created-subs-per-second", "peak-deleted-subs-per-second",
};
constexpr const char *kSubsRates[] = {
    "num-subs-sec-300000-plus", "num-subs-sec-250000-plus", "num-subs-sec-200000-plus",
    "num-subs-sec-150000-plus", "num-subs-sec-100000-plus", "num-subs-sec-50000-plus",
    "num-subs-sec-40000-plus",  "num-subs-sec-30000-plus",  "num-subs-sec-20000-plus",
    "num-subs-sec-10000-plus",  "num-subs-sec-1000-plus",   "num-subs-sec-1000-minus",
};
static_assert(std::size(kSubsRates) == kHistogramBuckets);

const auto kSubsActiveCounters = counter_run(kSubsActive, kSubsRecord + 0, 4, 4);
const vorel_counter kSubsSamples[] = {{"num-subs-sec-samples", kSubsRecord + 24}};
const auto kSubsCreation = counter_run(kSubsRates, kSubsRecord + 28, kBucketStride, 4);
const auto kSubsDeletion = counter_run(kSubsRates, kSubsRecord + 32, kBucketStride, 4);

// ---------------------------------------------------------------------------

// What differs between the two analyses.
struct analysis_kind {
    uint16_t request, reply;
    size_t reply_size;
    const char *root;
    const char *msp_element; // where a multiservices PIC's refusal goes
    void (*print)(const vorel_ctx *ctxt, const asp_info &asp, const vorel::ByteReader &reply);
};

void emit(const vorel_ctx *ctxt, const char *group, std::span<const vorel_counter> counters,
          const vorel::ByteReader &reply) {
    vorel_counters_emit(ctxt, {group, counters}, reply, nullptr);
}

// One histogram: the operation, then its twelve buckets.
void emit_rates(const vorel_ctx *ctxt, const char *element, const char *operation_element,
                const char *operation, std::span<const vorel_counter> buckets,
                const vorel::ByteReader &reply) {
    vorel_section sec(ctxt, element);
    sec.open();
    xml_send_all(operation_element, "%s", operation);
    emit(ctxt, nullptr, buckets, reply);
}

void emit_pic_info(const char *element, const asp_info &asp) {
    xml_send_open(element);
    xml_send_all("pic-name", "%s", asp.name);
    xml_send_close(element);
}

void print_flow_analysis(const vorel_ctx *ctxt, const asp_info &asp,
                         const vorel::ByteReader &reply) {
    vorel_section entry(ctxt, "service-flow-analysis-entry");
    entry.open();
    emit_pic_info("flow-analysis-statistics-pic-info", asp);
    {
        vorel_section stats(ctxt, "flow-analysis-statistics-entry");
        stats.open();
        emit(ctxt, nullptr, kFlowActiveCounters, reply);
        emit(ctxt, nullptr, kFlowPacketCounters, reply);
    }
    emit(ctxt, "flow-analysis-num-flows-sec-samples-entry", kFlowSamples, reply);
    emit_rates(ctxt, "flow-analysis-num-flows-sec-entry", "flow-operation", "Creation",
               kFlowCreation, reply);
    emit_rates(ctxt, "flow-analysis-num-flows-sec-entry", "flow-operation", "Deletion",
               kFlowDeletion, reply);
    emit(ctxt, "flow-analysis-protocol-lifetime-entry", kFlowLifetimes, reply);
}

void print_subs_analysis(const vorel_ctx *ctxt, const asp_info &asp,
                         const vorel::ByteReader &reply) {
    emit_pic_info("subs-analysis-statistics-pic-info", asp);
    emit(ctxt, "subs-analysis-statistics-entry", kSubsActiveCounters, reply);
    emit(ctxt, "subs-analysis-num-subs-sec-samples-entry", kSubsSamples, reply);
    emit_rates(ctxt, "subs-analysis-num-subs-sec-entry", "subs-operation", "Creation",
               kSubsCreation, reply);
    emit_rates(ctxt, "subs-analysis-num-subs-sec-entry", "subs-operation", "Deletion",
               kSubsDeletion, reply);
}

const analysis_kind kFlowAnalysis{kFlowRequest,
                                  kFlowReply,
                                  kFlowReplySize,
                                  "service-flow-analysis-information",
                                  "service-flow-analysis-entry",
                                  print_flow_analysis};
const analysis_kind kSubsAnalysis{kSubsRequest,
                                  kSubsReply,
                                  kSubsReplySize,
                                  "service-subs-analysis-information",
                                  "subs-analysis-statistics-entry",
                                  print_subs_analysis};

bool clearing(const fwnat_params &p) {
    return p.stats_subcmd == FWNAT_STATS_CLEAR;
}

// A clear opens nothing; a view opens its root (and says, without -X,
// that it has no text form).
void open_analysis(const analysis_kind &k, vorel_ctx *ctxt, const fwnat_params &p, const char *func,
                   int line, const char *what) {
    summary_info = 0;
    vorel_trace("%s:%d: %s analysis start \n", func, line, what);
    if (clearing(p)) {
        vorel_trace("%s:%d: Clear command \n", func, line);
        return;
    }
    vorel_open_enclosing(ctxt, nullptr, k.root, nullptr);
    fwnat_note_xml_only(ctxt, &p);
}

// Closes only what the open opened.
void close_analysis(vorel_ctx *ctxt, const fwnat_params &p, const char *func, int line,
                    const char *what) {
    vorel_trace("%s:%d %s analysis done \n", func, line, what);
    if (!clearing(p))
        vorel_close_enclosing(ctxt, nullptr, nullptr);
}

int analysis_query(const analysis_kind &k, const char *func, vorel_ctx *ctxt, services_ui_conn *c,
                   asp_info *asp, svc_set_info *ss, fwnat_params *p) {
    vorel_trace("%s:%d \n", func, __LINE__);
    if (!fwnat_query_args_ok(ctxt, asp, ss, p, false))
        return -1;
    if (fwnat_refuse_on_msp(ctxt, *asp, k.msp_element))
        return 0;
    vorel::ByteWriter req = fwnat_request(k.request, kVersion, kRequestSize, ss);
    req.be32(kSubcmdOffset, static_cast<uint32_t>(p->stats_subcmd));
    vorel_trace("%s:%d: stats_subcmd %d \n", func, __LINE__, p->stats_subcmd);
    if (vorel_send(c, req) < 0)
        return -1;
    vorel::ByteReader reply = vorel_receive_at_least(c, k.reply, kVersion, k.reply_size, asp->name,
                                                     short_reply::end_answer);
    if (reply.empty()) {
        vorel_trace("%s:%d No more replies from SPIC \n", func, __LINE__);
        return 0;
    }
    if (!clearing(*p) && ctxt->xml)
        k.print(ctxt, *asp, reply);
    return 0;
}

} // namespace

int fwnat_flow_analysis_open(vorel_ctx *ctxt, fwnat_params *p) {
    open_analysis(kFlowAnalysis, ctxt, *p, __func__, __LINE__, "flow");
    return 0;
}

int fwnat_flow_analysis_close(vorel_ctx *ctxt, fwnat_params *p) {
    close_analysis(ctxt, *p, __func__, __LINE__, "Flow");
    return 0;
}

int fwnat_flow_analysis_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    return analysis_query(kFlowAnalysis, __func__, ctxt, c, asp, ss, p);
}

int fwnat_subs_analysis_open(vorel_ctx *ctxt, fwnat_params *p) {
    open_analysis(kSubsAnalysis, ctxt, *p, __func__, __LINE__, "subs");
    return 0;
}

int fwnat_subs_analysis_close(vorel_ctx *ctxt, fwnat_params *p) {
    close_analysis(ctxt, *p, __func__, __LINE__, "Subs");
    return 0;
}

int fwnat_subs_analysis_query(vorel_ctx *ctxt, services_ui_conn *c, asp_info *asp, svc_set_info *ss,
                              fwnat_params *p) {
    return analysis_query(kSubsAnalysis, __func__, ctxt, c, asp, ss, p);
}
