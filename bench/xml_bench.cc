// XML output speed: renderers write up to a million leaves per second, so
// one leaf must cost well under a microsecond.
#include "platform/xml.h"

#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

struct XmlToDevNull {
    explicit XmlToDevNull(int buffering = _IOFBF) {
        out = std::fopen("/dev/null", "w");
        std::setvbuf(out, nullptr, buffering, BUFSIZ);
        xml_set_output(out);
        xml_set_mode(true);
        xml_subtree_open("service-sfw-statistics-information", {xml_attr_style("extensive")});
    }
    ~XmlToDevNull() {
        xml_subtree_unwind();
        xml_set_mode(false);
        xml_set_output(nullptr);
        std::fclose(out);
    }
    FILE *out;
};

void BM_LeafNumber(benchmark::State &st) {
    XmlToDevNull x;
    unsigned v = 0;
    for (auto _ : st)
        xml_send_all("total-received-forwarding-class-packets", "%u", v++);
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_LeafNumber);

void BM_LeafText(benchmark::State &st) {
    XmlToDevNull x;
    for (auto _ : st)
        xml_send_all("interface-name", "%s", "ms-1/0/0");
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_LeafText);

void BM_EntryOfFourLeaves(benchmark::State &st) {
    XmlToDevNull x;
    unsigned long long n = 0;
    for (auto _ : st) {
        xml_send_open("cos-stats-service-set-dscp-entry");
        xml_send_all("received-dscp", "%s", "101110");
        xml_send_all("total-received-dscp-packets", "%llu", n++);
        xml_send_all("total-marked-dscp-packets", "%llu", n);
        xml_send_close("cos-stats-service-set-dscp-entry");
    }
    st.SetItemsProcessed(st.iterations() * 5);
}
BENCHMARK(BM_EntryOfFourLeaves);

// The program makes standard output line buffered: every element line is
// then a write of its own.
void BM_LeafNumberLineBuffered(benchmark::State &st) {
    XmlToDevNull x(_IOLBF);
    unsigned v = 0;
    for (auto _ : st)
        xml_send_all("total-received-forwarding-class-packets", "%u", v++);
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_LeafNumberLineBuffered);

} // namespace

BENCHMARK_MAIN();
