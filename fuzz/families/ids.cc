// fuzz-options: -max_len=65536 -dict=fuzz/ids.dict
// The intrusion-detection family ("ids"): each service set's tables in
// every view and the clears, in text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_ids_command,
    {
        {"-C", "ids", "-S", "src"},
        {"-C", "ids", "-S", "pair", "-V", "x", "-O", "a"},
        {"-C", "ids", "-S", "dst", "-V", "t", "-O", "b", "-Fsprefix", "10.0.0.0/8"},
        {"-C", "ids", "-S", "clear"},
        {"-C", "ids", "-S", "clear_src", "-s", "ids-b", "-i", "sp-1/0/0"},
    },
    // Two services PICs (the family's PICs) and a multiservices PIC it passes over.
    [] {
        using namespace vorel::fuzz;
        asp_info *a = add_pic(1, 0, 0, "sp-1/0/0", 0);
        add_set(a, "ids-a", 1, 'B');
        add_set(a, "ids-b", 2, 'B');
        add_set(a, "tg-1", 7, 'D');
        add_set(add_pic(2, 0, 0, "ms-2/0/0", ASP_F_MSP), "ids-m", 3, 'B');
        add_set(add_pic(3, 0, 0, "sp-3/0/0", 0), "ids-c", 4, 'B', 2);
    },
};
