// fuzz-options: -max_len=65536 -dict=fuzz/svc_set.dict
// The service-set family ("svc_set"): every operation and its clear, in
// text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_svc_set_command,
    {
        {"-C", "svc_set", "-S", "mem"},
        {"-C", "svc_set", "-S", "cpu"},
        {"-C", "svc_set", "-S", "svc_set_summary"},
        {"-C", "svc_set", "-S", "svc_set_summary", "-i", "mams-3/0/0"},
        {"-C", "svc_set", "-S", "mem_zone"},
        {"-C", "svc_set", "-S", "svc_set_packet_drops", "-d"},
        {"-C", "svc_set", "-S", "set_drop_flow_limit"},
        {"-C", "svc_set", "-S", "clear_packet_drops"},
        {"-C", "svc_set", "-S", "clear_drop_flow"},
        {"-C", "svc_set", "-S", "tcp_mss_stats"},
        {"-C", "svc_set", "-S", "syslog", "-d"},
        {"-C", "svc_set", "-S", "syslog", "-s", "sset-ams", "-x", "syslog_host", "10.0.0.1"},
        {"-C", "svc_set", "-S", "clear_syslog", "-x", "syslog_host", "192.0.2.1"},
        {"-C", "svc_set", "-S", "qflow_log", "-d"},
        {"-C", "svc_set", "-S", "qflow_log", "-s", "sset-a", "-d"},
        {"-C", "svc_set", "-S", "clear_qflow_log", "-s", "sset-ams"},
        {"-C", "svc_set", "-S", "plugin"},
        {"-C", "svc_set", "-S", "policy"},
        {"-C", "svc_set", "-S", "syslog", "-x", "syslog_host"},
        {"-C", "svc_set", "-S", "bogus"},
    },
};
