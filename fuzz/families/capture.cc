// fuzz-options: -max_len=65536 -dict=fuzz/capture.dict
// The capture family ("capture"): the download (capture information, the
// large object's parts, the raw file and the pcap file written from them)
// and the clear, from fuzzed replies.  The display is fuzzed by the
// capture_raw target, which feeds the raw file's walk directly.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_capture_command,
    {
        {"-C", "capture", "-S", "req_capture", "-F", "vorel-fuzz-capture"},
        {"-C", "capture", "-S", "clear_capture"},
        {"-C", "capture", "-S", "req_capture", "-F", "vorel-fuzz-capture", "-i", "rsp0"},
    },
    // The services PICs the command asks, and a multiservices PIC it passes over.
    [] {
        using namespace vorel::fuzz;
        add_set(add_pic(1, 0, 0, "sp-1/0/0", 0), "s-a", 1, 'B');
        add_set(add_pic(2, 0, 0, "ms-2/0/0", ASP_F_MSP), "s-m", 2, 'B');
        add_set(add_pic(2, 1, 0, "rsp0", 0), "s-r", 3, 'B');
    },
};
