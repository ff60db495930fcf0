// fuzz-options: -max_len=65536 -dict=fuzz/lb.dict
// -C lb: the load-balancing bundles from the kernel's interface records
// (a get-next walk, the bundle's attribute 305 with its members), the
// chassis values of a mobile gateway, the synchronisation monitor's
// answers and the switchover's answers, all from fuzzed input.
#include "fuzz/families/lb_vectors.h"
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{vorel_handle_lb_command,
                                                       vorel::fuzz::kLbVectors, nullptr, true};
