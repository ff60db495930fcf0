// fuzz-options: -max_len=65536 -dict=fuzz/hcm.dict
// -C hcm: tag-rule statistics (a counted table of terms), plug-in
// counters and their clears, from fuzzed replies.  Whether a PIC lists the
// package comes from the input's mode bits (fakes.h, package check).
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const vorel::fuzz::Command hcm{
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
    return vorel::fuzz::run_command(hcm, data, size);
}
