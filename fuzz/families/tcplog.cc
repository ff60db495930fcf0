// fuzz-options: -max_len=65536
// -C tcplog -S connection: the connection table of each PIC's logging
// facility, in text and XML, from fuzzed replies (318).
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command tcplog{
        vorel_handle_tcplog_command,
        {
            {"-C", "tcplog", "-S", "connection"},
            {"-C", "tcplog", "-S", "connection", "-i", "mams-3/0/0"},
            {"-C", "tcplog", "-S", "sessions"},
        },
    };
    return vorel::fuzz::run_command(tcplog, data, size);
}
