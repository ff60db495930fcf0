// fuzz-options: -max_len=65536
// -C tcplog -S connection: the connection table of each PIC's logging
// facility, in text and XML, from fuzzed replies (318).
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_tcplog_command,
    {
        {"-C", "tcplog", "-S", "connection"},
        {"-C", "tcplog", "-S", "connection", "-i", "mams-3/0/0"},
        {"-C", "tcplog", "-S", "sessions"},
    },
};
