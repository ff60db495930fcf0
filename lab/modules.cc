#include "lab/lab.h"

namespace vorel::lab {

std::vector<std::unique_ptr<Module>> make_modules() {
    std::vector<std::unique_ptr<Module>> m;
    return m;
}

} // namespace vorel::lab
