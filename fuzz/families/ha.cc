// fuzz-options: -max_len=65536 -dict=fuzz/ha.dict
// The redundancy family ("redundancy", "ha"): modes, states and clears, in
// text and XML, from fuzzed replies.
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_redundancy_command,
    {
        {"-C", "ha", "-S", "level"},
        {"-C", "ha", "-S", "level", "-V", "c"},
        {"-C", "ha", "-S", "clear_ha_stats"},
        {"-C", "redundancy", "-S", "mode"},
        {"-C", "redundancy", "-S", "mode", "-V", "s", "-i", "rsp0"},
    },
    // A multiservices PIC, a redundant pair in the redundancy mode, a bundle
    // member in the member mode and one that is never asked.
    [] {
        using namespace vorel::fuzz;
        add_set(add_pic(1, 0, 0, "ms-1/0/0", ASP_F_MSP), "sset-a", 1, 'B');
        asp_info *pair = add_pic(2, 0, 0, "rsp0", ASP_F_MSP);
        pair->pic_mode = 2;
        add_set(pair, "sset-ha", 2, 'B');
        asp_info *member = add_pic(3, 0, 31, "mams-3/0/0", ASP_F_MSP);
        member->pic_mode = 1;
        add_set(member, "sset-ams", 3, 'B');
        add_set(add_pic(3, 1, 32, "mams-3/1/0", ASP_F_MSP), "sset-ams", 3, 'B');
    },
};
