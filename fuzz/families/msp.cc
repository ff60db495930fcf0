// fuzz-options: -max_len=65536 -dict=fuzz/msp.dict
// The multiservices session family ("msp"): sessions brief and in detail
// (with the plug-in replies and the NAT translation), counts, the TCP log
// view, flows, drains, and the walk of an aggregated multiservices bundle
// (its member list from the kernel), in text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command msp{
        vorel_handle_msp_command,
        {
            {"-C", "msp", "-S", "sessions"},
            {"-C", "msp", "-S", "sessions", "-d"},
            {"-C", "msp", "-S", "sessions_count"},
            {"-C", "msp", "-S", "sessions_tcp_log", "-i", "ms-1/0/0"},
            {"-C", "msp", "-S", "flows", "-d"},
            {"-C", "msp", "-S", "flows", "-c"},
            {"-C", "msp", "-S", "clear_sessions", "-F", "sprefix", "10.0.0.0/8", "-F", "proto",
             "17"},
            {"-C", "msp", "-S", "clear_flows_ipaction", "-s", "sset-a", "-F", "sport", "1024"},
            {"-C", "msp", "-S", "sessions", "-d", "-i", "ams0"},
            {"-C", "msp", "-S", "sessions", "-s", "sset-a", "-F", "count", "3"},
        },
        nullptr,
        true, // -i ams0 reads the bundle's member list from the kernel
    };
    return vorel::fuzz::run_command(msp, data, size);
}
