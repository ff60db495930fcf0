#include "lab/kernel_module.h"
#include "lab/lab.h"

namespace vorel::lab {

std::vector<std::unique_ptr<Module>> make_modules() {
    std::vector<std::unique_ptr<Module>> m;
    m.push_back(make_kernel_module());
    return m;
}

} // namespace vorel::lab
