// fuzz-options: -max_len=65536 -dict=fuzz/msp.dict
// The multiservices session family ("msp"): every view of the vectors, in
// text and XML, from fuzzed replies; the walk of a bundle reads its member
// list from the kernel.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_msp_command,
    {
        {"-C", "msp", "-S", "sessions"},
        {"-C", "msp", "-S", "sessions", "-d"},
        {"-C", "msp", "-S", "sessions_count"},
        {"-C", "msp", "-S", "sessions_tcp_log", "-i", "ms-1/0/0"},
        {"-C", "msp", "-S", "flows", "-d"},
        {"-C", "msp", "-S", "flows", "-c"},
        {"-C", "msp", "-S", "clear_sessions", "-F", "sprefix", "10.0.0.0/8", "-F", "proto", "17"},
        {"-C", "msp", "-S", "clear_flows_ipaction", "-s", "sset-a", "-F", "sport", "1024"},
        {"-C", "msp", "-S", "sessions", "-d", "-i", "ams0"},
        {"-C", "msp", "-S", "sessions", "-s", "sset-a", "-F", "count", "3"},
        // Utilization, analyses, per-service-set statistics and the
        // application-level gateways (vectors 10 to 26).
        {"-C", "msp", "-S", "show_tcp_stats"},
        {"-C", "msp", "-S", "show_ids_drops_stats"},
        {"-C", "msp", "-S", "show_ids_session_limits_counters_stats"},
        {"-C", "msp", "-S", "sessions_utilization"},
        {"-C", "msp", "-S", "sessions_analysis"},
        {"-C", "msp", "-S", "show_subs_analysis"},
        {"-C", "msp", "-S", "conversations", "-d"},
        {"-C", "msp", "-S", "conversations", "-g", "resource-id", "7"},
        {"-C", "msp", "-S", "stats", "-F", "alg", "sip"},
        {"-C", "msp", "-S", "stats"},
        {"-C", "msp", "-S", "sip_globals"},
        {"-C", "msp", "-S", "conversations", "-g", "groups", "0"},
        {"-C", "msp", "-S", "clear_ids_drops_stats"},
        {"-C", "msp", "-S", "conversations", "-g", "resources", "0"},
        {"-C", "msp", "-S", "conversations", "-g", "summary", "0"},
        {"-C", "msp", "-S", "conversations", "-g", "group-id", "3"},
        {"-C", "msp", "-S", "clear_alg_stats", "-F", "alg", "ftp"},
    },
    nullptr,
    true, // -i ams0 reads the bundle's member list from the kernel
};
