// fuzz-options: -max_len=65536 -dict=fuzz/hcm.dict
// -C hcm: tag-rule statistics (a counted table of terms), plug-in
// counters and their clears, from fuzzed replies.  Whether a PIC lists the
// package comes from the input's mode bits (fakes.h, package check).
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_hcm_command,
    {
        {"-C", "hcm", "-S", "stats"},
        {"-C", "hcm", "-S", "stats", "-r", "rule-a"},
        {"-C", "hcm", "-S", "clear_stats"},
        {"-C", "hcm", "-S", "pic_stats"},
        {"-C", "hcm", "-A", "clear_pic_stats"},
        {"-C", "hcm", "-S", "stats", "-i", "ms-1/0/0.0"},
    },
};
