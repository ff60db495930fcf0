#include "lab/runtime.h"

namespace vorel::lab {

void LineLog::add(std::string line) {
    std::lock_guard<std::mutex> g(mu_);
    lines_.push_back(std::move(line));
}

std::string LineLog::text() const {
    std::lock_guard<std::mutex> g(mu_);
    std::string s;
    for (const auto &l : lines_) {
        s += l;
        s += '\n';
    }
    return s;
}

} // namespace vorel::lab
