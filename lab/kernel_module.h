// The router's kernel as the lab plays it: interface, PIC, generic
// configuration, tunnel-group and routing-instance records read from the
// scenario, answered on the control socket's kernel service (record
// layouts in platform/rtslib_wire.h), and the PIC and interface changes
// asked of it, logged to the runtime's kernel-change log.
//
// Scenario sections: interfaces, pics, service_sets, config_records,
// tunnel_groups, routing_instances, kernel_faults (docs/lab-kernel.md).
#pragma once

#include "lab/runtime.h"

#include <memory>

namespace vorel::lab {

std::unique_ptr<Module> make_kernel_module();

} // namespace vorel::lab
