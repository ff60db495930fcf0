// fuzz-options: -max_len=65536 -dict=fuzz/lb.dict
// -C lb: the load-balancing bundles from the kernel's interface records
// (a get-next walk, the bundle's attribute 305 with its members), the
// chassis values of a mobile gateway, the synchronisation monitor's
// answers and the switchover's answers, all from fuzzed input.
#include "fuzz/families/lb_vectors.h"
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command lb{vorel_handle_lb_command, vorel::fuzz::kLbVectors, nullptr,
                                         true};
    return vorel::fuzz::run_command(lb, data, size);
}
