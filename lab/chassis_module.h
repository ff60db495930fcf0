// The lab's chassis: routing-engine and product values, the hardware and
// configuration databases, the PICs' package lists (control service
// kChassis), and the PIC synchronisation monitors (peer-connection
// listeners).  Scenario sections "chassis" and "monitors"; see
// docs/lab-chassis.md.
#pragma once

#include "lab/runtime.h"

#include <memory>

namespace vorel::lab {

std::unique_ptr<Module> make_chassis_module();

} // namespace vorel::lab
