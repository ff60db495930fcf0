// fuzz-options: -max_len=65536
// The raw capture file's walk: the input is the file.  Every record the
// walk hands over is read whole (data, log text, the encapsulation's
// length), so a length that passes what was read shows under the
// sanitizers; the callback's answers vary with the records.
#include "vorel/vorel_capture_raw.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

capture_walk_answer look(const capture_record &rec, void *ctx) {
    auto *sum = static_cast<uint64_t *>(ctx);
    for (uint32_t i = 0; i < rec.length; i++)
        *sum += rec.data[i];
    size_t log = size_t{rec.log_lines} * rec.log_width;
    for (size_t i = 0; i < log; i++)
        *sum += rec.log[i];
    if (log && rec.log[log - 1] != 0)
        __builtin_trap(); // a log text must end inside its lines
    size_t strip = capture_encapsulation(rec);
    *sum += strip < rec.length ? rec.data[strip] : 0;
    // Stop or fail now and then, as the display does for a chosen packet.
    if (rec.id == 0xfffffffe)
        return CAPTURE_STOP;
    if (rec.id == 0xfffffffd)
        return CAPTURE_FAIL;
    return CAPTURE_CONTINUE;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!f)
        return 0;
    // The warning about unpaired records goes to standard output.
    static FILE *quiet = freopen("/dev/null", "w", stdout);
    (void)quiet;
    uint64_t sum = 0;
    uint32_t passed = 0;
    capture_raw_walk(f, look, &sum, &passed);
    std::fclose(f);
    return 0;
}
