// fuzz-options: -max_len=65536 -dict=fuzz/lrf.dict
// -C lrf: statistics, collectors, rules (a counted table of records),
// templates and the clears, from fuzzed replies.  The routing engine's
// type comes from the input's kernel chunk (type 160: no package check);
// otherwise whether a PIC lists the package comes from the input's mode
// bits (fakes.h, package check).
#include "fuzz/fuzz_command.h"

const vorel::fuzz::Command vorel::fuzz::family_command{
    vorel_handle_lrf_command,
    {
        {"-C", "lrf", "-S", "statistics"},
        {"-C", "lrf", "-S", "collector", "-O", "collector-east"},
        {"-C", "lrf", "-S", "rule", "-R", "rule-web"},
        {"-C", "lrf", "-S", "template", "-P", "http"},
        {"-C", "lrf", "-S", "clear_stats"},
        {"-C", "lrf", "-S", "clear_collector", "-O", "c"},
        {"-C", "lrf", "-S", "clear_rule", "-R", "r"},
        {"-C", "lrf", "-S", "template", "-P", "status"},
        {"-C", "lrf", "-S", "template"},
    },
    nullptr,
    true,
};
