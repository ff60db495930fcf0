// The flow renderer alone: decoding a flow reply and printing its entry in
// text and in XML, with standard output fully buffered into /dev/null as
// the program has it.  The shapes are those of bench_scenario's flow table
// (TCP, UDP with source NAT, IPv6, destination NAT, ICMP, DS-Lite).  Also a
// session of the session engine with its two flows, as the session listing
// prints it (the session table of bench/run.sh), and the softwire table's
// flows and softwire entries (DS-Lite flows of bench/run.sh's softwire table).
//
// The figures are reported on standard error, since standard output is the
// renderer's sink.
#include "platform/bytes.h"
#include "platform/xml.h"
#include "vorel/vorel_cmd_fwnat.h"
#include "vorel/vorel_cmd_msp.h"
#include "vorel/vorel_cmd_sw.h"

#include "bench/stderr_reporter.h"
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {

constexpr size_t kFlowAt = 24; // the flow record's offset in reply 19
constexpr size_t kReplySize = 200;

// Offsets of the flow record (see lab/layouts/fwnat.yaml).
enum : size_t {
    kSrc = 0,
    kDst = 20,
    kSrcPort = 40,
    kDstPort = 42,
    kSnatValid = 44,
    kDnatValid = 46,
    kSnatAddr = 48,
    kDnatAddr = 68,
    kSnatPort = 88,
    kDnatPort = 90,
    kDirection = 93,
    kState = 94,
    kProto = 95,
    kTimeout = 96,
    kFrames = 100,
    kBytes = 104,
    kTcpEst = 108,
    kRole = 111,
    kTcpWindow = 112,
    kTcpAck = 116,
    kSwSrc = 124,
    kSwDst = 144,
    kSwType = 164,
};

void put_addr(vorel::ByteWriter &w, size_t off, const char *text) {
    uint8_t bytes[16] = {};
    if (inet_pton(AF_INET, text, bytes) == 1) {
        w.bytes(kFlowAt + off, bytes, 4);
        return;
    }
    inet_pton(AF_INET6, text, bytes);
    w.bytes(kFlowAt + off, bytes, 16);
    w.u8(kFlowAt + off + 16, 1);
}

struct Shape {
    const char *src, *dst;
    uint16_t sport, dport;
    uint8_t proto;
    const char *snat = nullptr;
    uint16_t snat_port = 0;
    const char *dnat = nullptr;
    uint16_t dnat_port = 0;
    uint8_t sw_type = 0;
    const char *sw_src = nullptr, *sw_dst = nullptr;
};

std::vector<uint8_t> reply_of(const Shape &s, uint32_t i) {
    vorel::ByteWriter w(kReplySize);
    w.be16(0, 19);
    w.be16(2, 2);
    w.be16(4, kReplySize / 4);
    put_addr(w, kSrc, s.src);
    put_addr(w, kDst, s.dst);
    w.be16(kFlowAt + kSrcPort, static_cast<uint16_t>(s.sport + i));
    w.be16(kFlowAt + kDstPort, s.dport);
    w.u8(kFlowAt + kProto, s.proto);
    w.u8(kFlowAt + kState, 2);
    w.u8(kFlowAt + kDirection, 1);
    w.be32(kFlowAt + kTimeout, 30);
    w.be32(kFlowAt + kFrames, 1000 + i * 7);
    w.be32(kFlowAt + kBytes, 150000 + i);
    w.u8(kFlowAt + kTcpEst, s.proto == 6);
    w.u8(kFlowAt + kRole, 1);
    w.be16(kFlowAt + kTcpWindow, 65535);
    w.be32(kFlowAt + kTcpAck, 1000);
    if (s.snat) {
        w.be16(kFlowAt + kSnatValid, 1);
        put_addr(w, kSnatAddr, s.snat);
        w.be16(kFlowAt + kSnatPort, s.snat_port);
    }
    if (s.dnat) {
        w.be16(kFlowAt + kDnatValid, 1);
        put_addr(w, kDnatAddr, s.dnat);
        w.be16(kFlowAt + kDnatPort, s.dnat_port);
    }
    if (s.sw_type) {
        w.u8(kFlowAt + kSwType, s.sw_type);
        put_addr(w, kSwSrc, s.sw_src);
        put_addr(w, kSwDst, s.sw_dst);
    }
    return w.take();
}

// Sixty replies: ten of each shape, with differing ports and counters.
const std::vector<std::vector<uint8_t>> &replies() {
    static const std::vector<std::vector<uint8_t>> all = [] {
        const Shape shapes[] = {
            {"10.0.0.1", "192.0.2.1", 1024, 80, 6},
            {"10.64.0.1", "198.51.100.7", 5000, 53, 17, "203.0.113.1", 61000},
            {"2001:db8::1", "2001:db8:1::2", 1234, 22, 6},
            {"198.51.0.1", "203.0.113.10", 3000, 80, 6, nullptr, 0, "10.2.2.2", 8080},
            {"172.16.0.1", "192.0.2.2", 8, 2048, 1},
            {"192.168.0.1", "198.51.100.20", 0, 0, 4, nullptr, 0, nullptr, 0, 1, "2001:db8:b4::1",
             "2001:db8:a::1"},
        };
        std::vector<std::vector<uint8_t>> v;
        for (uint32_t i = 0; i < 10; i++)
            for (const Shape &s : shapes)
                v.push_back(reply_of(s, i));
        return v;
    }();
    return all;
}

// Standard output into /dev/null, fully buffered as the program sets it.
void quiet_stdout() {
    static char buffer[1 << 16];
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!std::freopen("/dev/null", "w", stdout))
        std::perror("/dev/null");
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

// The program's output mode for one benchmark: standard output into
// /dev/null and, in XML, the view's root open until the benchmark ends.
class OutputMode {
  public:
    OutputMode(bool xml, const char *root) : xml_(xml) {
        quiet_stdout();
        xml_set_mode(xml);
        if (xml)
            xml_subtree_open(root);
    }
    ~OutputMode() {
        if (xml_) {
            xml_subtree_unwind();
            xml_set_mode(false);
        }
    }
    OutputMode(const OutputMode &) = delete;
    OutputMode &operator=(const OutputMode &) = delete;

  private:
    bool xml_;
};

// The index after i among n, by a compare: a division (i % n) cost nearly
// a third of what the decode loop measured.
size_t next(size_t i, size_t n) {
    return i + 1 == n ? 0 : i + 1;
}

void BM_FlowDecode(benchmark::State &st) {
    const auto &all = replies();
    size_t i = 0;
    for (auto _ : st) {
        const auto &r = all[i];
        i = next(i, all.size());
        fwnat_flow_record f = fwnat_flow_read(vorel::ByteReader(r), kFlowAt);
        benchmark::DoNotOptimize(f);
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_FlowDecode);

void BM_Flow(benchmark::State &st, bool xml, bool detail) {
    OutputMode mode(xml, "service-sfw-flow-table-information");
    std::vector<fwnat_flow_record> flows;
    for (const auto &r : replies())
        flows.push_back(fwnat_flow_read(vorel::ByteReader(r), kFlowAt));
    size_t i = 0;
    for (auto _ : st) {
        fwnat_flow_print(flows[i], detail, xml);
        i = next(i, flows.size());
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK_CAPTURE(BM_Flow, Text, false, false);
BENCHMARK_CAPTURE(BM_Flow, TextDetail, false, true);
BENCHMARK_CAPTURE(BM_Flow, Xml, true, false);
BENCHMARK_CAPTURE(BM_Flow, XmlDetail, true, true);

// A session of bench/run.sh's session table: TCP, its ALG, a timeout, and
// the forward and reverse flows.
void BM_Session(benchmark::State &st, bool xml) {
    OutputMode mode(xml, "service-msp-sess-table-information");
    msp_sess sess;
    sess.alg = 1003;
    sess.flow_count = 2;
    sess.sess_timeout = 1800;
    msp_flow forward, reverse;
    forward.src.words[0] = 0x0a000001;
    forward.dst.words[0] = reverse.src.words[0] = 0xc0000250;
    reverse.dst.words[0] = 0x0a000001;
    forward.src_port = reverse.dst_port = 40000;
    forward.dst_port = reverse.src_port = 443;
    forward.proto = reverse.proto = 6;
    forward.state = reverse.state = 2;
    forward.direction = 1;
    reverse.direction = 2;
    forward.frames = 12;
    reverse.frames = 9;
    uint32_t i = 0;
    for (auto _ : st) {
        sess.sess_id = ++i;
        forward.src.words[0] = reverse.dst.words[0] = 0x0a000000 + (i & 0xffff);
        msp_sess_print(&sess, xml, "sset-b");
        msp_session_sw_info_print(&sess.sw, xml);
        msp_flow_print(&forward, 0, xml);
        msp_flow_print(&reverse, 0, xml);
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK_CAPTURE(BM_Session, Text, false);
BENCHMARK_CAPTURE(BM_Session, Xml, true);

// ---- Softwire table ----

// A softwire flow reply: an IPv4 flow inside a DS-Lite softwire (the
// endpoints are IPv6), its ports differing by i.
std::vector<uint8_t> softwire_reply(uint32_t i) {
    constexpr size_t at = SW_FLOW_RECORD_OFFSET;
    vorel::ByteWriter w(at + SW_FLOW_RECORD_LEN);
    w.be16(0, 48);
    w.be16(2, 2);
    w.be16(4, static_cast<uint16_t>((at + SW_FLOW_RECORD_LEN + 3) / 4));
    w.be32(at + 0, 0x0a000000 + (i & 0xffff));
    w.be32(at + 20, 0xc0000201);
    uint8_t ep1[16], ep2[16];
    inet_pton(AF_INET6, "2001:db8:b4::1", ep1);
    inet_pton(AF_INET6, "2001:db8:a::1", ep2);
    w.bytes(at + 80, ep1, 16);
    w.be32(at + 96, 1);
    w.bytes(at + 100, ep2, 16);
    w.be32(at + 116, 1);
    w.be32(at + 128, 30);
    w.be32(at + 132, 1000 + i * 7);
    w.be16(at + 144, static_cast<uint16_t>(1024 + i));
    w.be16(at + 146, 80);
    w.u8(at + 153, 1);
    w.u8(at + 154, 2);
    w.u8(at + 155, 6);
    w.u8(at + 156, 1);
    return w.take();
}

const std::vector<sw_flow_record> &softwire_records() {
    static const std::vector<sw_flow_record> all = [] {
        std::vector<sw_flow_record> v(60);
        for (uint32_t i = 0; i < v.size(); i++)
            sw_flow_record_read(vorel::ByteReader(softwire_reply(i)), SW_FLOW_RECORD_OFFSET, &v[i]);
        return v;
    }();
    return all;
}

void BM_SoftwireDecode(benchmark::State &st) {
    std::vector<std::vector<uint8_t>> replies;
    for (uint32_t i = 0; i < 60; i++)
        replies.push_back(softwire_reply(i));
    size_t i = 0;
    sw_flow_record rec;
    for (auto _ : st) {
        sw_flow_record_read(vorel::ByteReader(replies[i]), SW_FLOW_RECORD_OFFSET, &rec);
        i = next(i, replies.size());
        benchmark::DoNotOptimize(rec);
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_SoftwireDecode);

// The flow's entry (sw_flow_print) or the softwire's (sw_entry_print).
void BM_Softwire(benchmark::State &st, bool xml, bool softwire_entry) {
    OutputMode mode(xml, "service-softwire-table-information");
    const vorel_ctx ctxt{nullptr, xml};
    const auto &records = softwire_records();
    size_t i = 0;
    for (auto _ : st) {
        const sw_flow_record &rec = records[i];
        i = next(i, records.size());
        if (softwire_entry)
            sw_entry_print(&ctxt, rec, false);
        else
            sw_flow_print(&ctxt, rec);
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK_CAPTURE(BM_Softwire, FlowText, false, false);
BENCHMARK_CAPTURE(BM_Softwire, FlowXml, true, false);
BENCHMARK_CAPTURE(BM_Softwire, EntryText, false, true);
BENCHMARK_CAPTURE(BM_Softwire, EntryXml, true, true);

} // namespace

int main(int argc, char **argv) {
    return run_benchmarks_to_stderr(argc, argv);
}
