// fuzz-options: -max_len=65536 -dict=fuzz/ipreass.dict
// -C inline-ip-reass and -C inline-ipv6-reass: the summed per-PFE records
// of fuzzed replies, on a service interface and on the FPC walks, whose
// chassis facts (hardware database, slot count, boards, virtual-chassis
// member) come from the input's kernel chunk.
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command ipreass{
        vorel_handle_si_ip_reass_command,
        {
            {"-C", "inline-ip-reass", "-S", "stats", "-i", "si-4/0/0"},
            {"-C", "inline-ipv6-reass", "-S", "stats", "-i", "si-4/0/0"},
            {"-C", "inline-ip-reass", "-S", "stats"},
            {"-C", "inline-ip-reass", "-S", "stats", "-F", "1", "-P", "0"},
            {"-C", "inline-ip-reass", "-S", "clear_stats", "-i", "si-4/0/0"},
            {"-C", "inline-ip-reass", "-S", "clear_stats"},
        },
        nullptr,
        true,
    };
    static const vorel::fuzz::Command ipv6reass{vorel_handle_si_ipv6_reass_command,
                                                ipreass.arguments, nullptr, true};
    // The handlers differ only in their messages; the command word picks one.
    if (size > 1 && (data[1] & 0x80))
        return vorel::fuzz::run_command(ipv6reass, data, size);
    return vorel::fuzz::run_command(ipreass, data, size);
}
