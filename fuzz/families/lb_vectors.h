// The lb target's argument vectors (byte 1 of its input picks one), which
// the seed generator runs too.  The view is XML only, so every vector
// carries -X.
#pragma once

#include <string>
#include <vector>

namespace vorel::fuzz {

inline const std::vector<std::vector<std::string>> kLbVectors = {
    {"-C", "lb", "-S", "show", "-X"},
    {"-C", "lb", "-S", "show", "-d", "-X"},
    {"-C", "lb", "-S", "show", "-d", "-i", "ams0", "-X"},
    {"-C", "lb", "-S", "switchover", "-i", "mams-2/0/0", "-X"},
    {"-C", "lb", "-S", "switchover", "-f", "-i", "mams-3/1/0", "-X"},
    {"-C", "lb", "-S", "switchover", "-i", "si-7/0/0", "-X"},
};

} // namespace vorel::fuzz
