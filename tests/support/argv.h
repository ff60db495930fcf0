// An argument vector built from words, as main hands one to a handler:
// argc words, then a null pointer.  The words live as long as the vector
// (the option parser keeps pointers into them).
#pragma once

#include <string>
#include <vector>

namespace vorel::testing {

class Argv {
  public:
    explicit Argv(std::vector<std::string> words) : words_(std::move(words)) {
        for (auto &w : words_)
            ptrs_.push_back(w.data());
        ptrs_.push_back(nullptr);
    }
    Argv(const Argv &) = delete;
    Argv &operator=(const Argv &) = delete;

    int argc() const { return static_cast<int>(words_.size()); }
    char **argv() { return ptrs_.data(); }
    const std::vector<std::string> &words() const { return words_; }

  private:
    std::vector<std::string> words_;
    std::vector<char *> ptrs_;
};

} // namespace vorel::testing
