#include "lab/agents_module.h"
#include "lab/chassis_module.h"
#include "lab/kernel_module.h"
#include "lab/lab.h"

namespace vorel::lab {

std::vector<std::unique_ptr<Module>> make_modules() {
    std::vector<std::unique_ptr<Module>> m;
    m.push_back(make_kernel_module());
    m.push_back(make_chassis_module());
    m.push_back(std::make_unique<AgentsModule>());
    return m;
}

} // namespace vorel::lab
