// A big answer through the Services UI channel: one request answered by a
// million 200-byte replies from a lab agent, received one by one.
#include "lab/lab.h"
#include "platform/bytes.h"
#include "platform/services_ui.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const char *kScenario = R"(name: services-ui-bench
layouts:
  - {name: record, type: 131, size: 200, fields: [{name: seq, offset: 8, type: be32}]}
agents:
  - pic: ms-1/0/0
    rules:
      - match: {type: 130}
        reply: [{layout: record, repeat: 1000000, vary: {seq: {start: 1}}}]
)";

struct BenchLab {
    vorel::lab::Lab lab;
    std::string scenario = "/tmp/vorel-ui-bench-" + std::to_string(getpid()) + ".yaml";
    bool ok = false;

    BenchLab() {
        std::ofstream(scenario) << kScenario;
        std::vector<std::string> errors;
        std::string err;
        ok = lab.load(scenario, errors) && lab.start(0, scenario + ".sock", err);
        if (ok)
            setenv("VOREL_LAB_NET", std::to_string(lab.net()).c_str(), 1);
    }
    ~BenchLab() {
        lab.stop();
        ::unlink(scenario.c_str());
    }
};

void MillionRepliesOneByOne(benchmark::State &state) {
    BenchLab l;
    if (!l.ok) {
        state.SkipWithError("the lab did not start");
        return;
    }
    services_ui_conn *c = services_ui_open(1, 0, SERVICES_UI_PIC_PORT, nullptr);
    vorel::ByteWriter req(16);
    req.be16(0, 130);
    req.be16(2, 1);
    req.be16(4, 4);
    uint64_t received = 0;
    for (auto _ : state) {
        services_ui_send(c, req.data(), req.size());
        uint32_t last = 0;
        while (services_ui_reply r = services_ui_receive(c, 131, 1)) {
            last = vorel::ByteReader(r.data, r.size).be32(8);
            received++;
        }
        benchmark::DoNotOptimize(last);
    }
    state.SetItemsProcessed(static_cast<int64_t>(received));
    state.SetBytesProcessed(static_cast<int64_t>(received * 208));
    services_ui_close(c);
}
BENCHMARK(MillionRepliesOneByOne)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
