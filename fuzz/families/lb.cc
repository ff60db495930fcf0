// fuzz-options: -max_len=65536 -dict=fuzz/lb.dict
// -C lb: the load-balancing bundles from the kernel's interface records
// (a get-next walk, the bundle's attribute 305 with its members), the
// chassis values of a mobile gateway, the synchronisation monitor's
// answers and the switchover's answers, all from fuzzed input.  The view
// is XML only, so every vector carries -X.
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command lb{
        vorel_handle_lb_command,
        {
            {"-C", "lb", "-S", "show", "-X"},
            {"-C", "lb", "-S", "show", "-d", "-X"},
            {"-C", "lb", "-S", "show", "-d", "-i", "ams0", "-X"},
            {"-C", "lb", "-S", "switchover", "-i", "mams-3/0/0", "-X"},
            {"-C", "lb", "-S", "switchover", "-f", "-i", "mams-3/0/0", "-X"},
            {"-C", "lb", "-S", "switchover", "-i", "si-5/0/0", "-X"},
        },
        nullptr,
        true,
    };
    return vorel::fuzz::run_command(lb, data, size);
}
