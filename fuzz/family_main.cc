// The input function of a command family's target: the family's own file
// (fuzz/families/<family>.cc) defines the command it runs.
#include "fuzz/fuzz_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return vorel::fuzz::run_command(vorel::fuzz::family_command, data, size);
}
